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
    // Extracts the archive into a private directory and brings in what the game's directory
    // lacks; false when the launch ends here (told, cancelled).
    bool Extract(const TLaunchRequest& request, const std::string& archive, TRecordedLaunch& extraction);
    // Records every entry, then moves it into the game's directory.
    static void BringIn(TRecordedLaunch& extraction);
    // launch: its record path is empty when nothing was extracted.
    void StartEmulator(const TLaunchRequest& request, TRecordedLaunch launch);

    TForm& window_;
    TRunTracker runs_;
};
