// The launch of a game: the checks, the extraction of its archive when its ROMs are missing,
// the start of the emulator, and the clean-up it leaves for the run tracker.
#pragma once

#include "RunTracker.h"

#include <optional>
#include <string>
#include <vector>

class TForm;

struct TLaunchRequest {
    std::string emulatorDir;
    std::optional<std::string> zipDir; // nothing while ZIP support is off
    std::string unzipper;
    std::string game; // a plain file name
    std::vector<std::string> emulatorArguments;
};

class TGameLauncher {
public:
    // window: the main window, whose caption shows the extraction and whose closing cancels it.
    explicit TGameLauncher(TForm& window) : window_(window) {}

    // Runs the launch to its end; every outcome but a started emulator is told to the user.
    void Launch(const TLaunchRequest& request);

    TRunTracker& Runs() { return runs_; }

private:
    // The extraction for the clean-up, or nothing when the launch ends here (told, cancelled).
    std::optional<TExtraction> Extract(const TLaunchRequest& request, const std::string& archive);
    void StartEmulator(const TLaunchRequest& request, std::optional<TExtraction> extraction);

    TForm& window_;
    TRunTracker runs_;
};
