// The launch of a game: the checks, the extraction of its archive when its ROMs are missing,
// the start of the emulator, and the clean-up it leaves for the run tracker. The launch shows
// nothing itself: it reports how it ended, and the window tells the user.
#pragma once

#include "RunTracker.h"

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

struct TLaunchRequest {
    std::string emulatorDir;
    std::optional<std::string> zipDir; // nothing while ZIP support is off
    std::string unzipper;
    std::string game; // a plain file name
    std::vector<std::string> emulatorArguments;
};

enum class TLaunchEnd {
    Started, // the emulator runs
    Cancelled, // the user stopped the extraction or closed the window: nothing to tell
    Refused, // nothing started, for the reason the message gives
    Failed, // an error ended the launch; what it had done is taken back
};

struct TLaunchOutcome {
    TLaunchEnd end;
    std::string message; // for Refused and Failed; a notice for Started
};

enum class TNoticeBox { None, Message, Error };

// What the window shows for an outcome: a refusal, or a notice on a start, in the plain message
// box as it is worded, a failure in the error box (with its full stop), nothing else.
struct TLaunchNotice {
    TNoticeBox box;
    QString text;
};
TLaunchNotice NoticeFor(const TLaunchOutcome& outcome);

class TGameLauncher {
public:
    // window: the parent of the progress window, whose closing cancels an extraction.
    // showExtracting: told true when an extraction starts and false once its script has ended.
    TGameLauncher(QWidget& window, std::function<void(bool extracting)> showExtracting)
        : window_(window), showExtracting_(std::move(showExtracting))
    {
    }

    // Runs the launch to its end.
    TLaunchOutcome Launch(const TLaunchRequest& request);

    TRunTracker& Runs() { return runs_; }

private:
    struct TScriptRun;

    TLaunchOutcome LaunchOrThrow(const TLaunchRequest& request);
    // Extracts the archive into a private directory and brings in what the game's directory
    // lacks; an outcome when the launch ends here.
    std::optional<TLaunchOutcome> Extract(const TLaunchRequest& request, const std::string& archive,
                                          TRecordedLaunch& extraction);
    // Writes the lock file and the script, runs it and waits for its end or its cancel.
    TScriptRun RunScript(const TLaunchRequest& request, const std::string& archive, TRecordedLaunch& extraction);
    // Records every entry, then moves it into the game's directory; false when the archive holds
    // no file the game could read. Throws naming the game's directory when a move
    // is refused.
    static bool BringIn(TRecordedLaunch& extraction);
    // launch: its record path is empty when nothing was extracted.
    // Launches on a cabinet whose records cannot be written: a game that brings nothing in still
    // starts (the first time with a notice saying why that matters), a zipped one is refused.
    TLaunchOutcome StartEmulator(const TLaunchRequest& request, TRecordedLaunch launch);
    // False when the record cannot be written; a record of a launch without extraction then goes.
    static bool SaveRecord(const TRecordedLaunch& launch, bool extracted);

    QWidget& window_;
    std::function<void(bool extracting)> showExtracting_;
    TRunTracker runs_;
    bool toldUnrecorded_ = false;
};
