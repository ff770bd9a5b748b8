// Keeps track of the emulators the launcher started and takes back the files extracted for a run
// once no emulator on that game's directory runs any more, of this Kabinex or of any other: every
// launch is recorded on disk, so each Kabinex sees the others' and the next start finishes what an
// ended Kabinex left undone.
#pragma once

#include "CleanupRecord.h"
#include "FmxUtils.h"

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One launch of a game, and the file that records it.
struct TRecordedLaunch {
    TCleanupRecord record;
    std::string recordPath;

    // Takes back the files and drops the record.
    void Finish() const;
};

// Whether a Kabinex other than this one is extracting into gameDir, or moving what it extracted
// there, so that a launch now would find half the files.
bool ExtractionUnderWayElsewhere(const std::string& gameDir);

// A process that holds a clean-up back: another Kabinex's game (all of its session), or another
// Kabinex extracting into the directory (the Kabinex itself).
struct THoldingProcess {
    TProcessIdentity process;
    TWatchScope scope = TWatchScope::Process;
    bool operator==(const THoldingProcess&) const = default;
};

class TRunTracker : public QObject {
    Q_OBJECT
public:
    TRunTracker();

    // Follows a started emulator (the leader of a session of its own) on the game's directory;
    // the extraction made for this launch, if any, is cleaned up once no emulator of any Kabinex
    // runs on that directory. The launch's record already names the emulator.
    void Started(std::unique_ptr<TChildProcess> emulator, TRecordedLaunch launch);
    // An extraction whose emulator never started: cleaned up now, unless another emulator still
    // runs on that directory.
    void StartFailed(TRecordedLaunch extraction);

    // Takes over the records of every Kabinex that has ended: an extraction it left under way is
    // stopped and its private directory removed; the files of a run are taken back once no
    // emulator uses the directory. A record that fails a rule is set aside, reported once on the
    // standard error, and never acted on; the names it went to are returned.
    std::vector<std::string> ResumeRecorded();

    int Running(const std::string& gameDir) const;
    bool CleanupPending(const std::string& gameDir) const;
    bool AnyRunning() const { return !processes_.empty(); }

signals:
    // After the clean-up of gameDir has run.
    void CleanedUp(const QString& gameDir);
    // A game this Kabinex started has ended: its emulator's session is over.
    void GameEnded(const std::string& game, const QDateTime& started);

private:
    struct TGameRuns {
        std::map<QObject*, TProcessIdentity> processes; // running on the directory
        std::vector<TRecordedLaunch> pending;
    };
    void Follow(const std::string& gameDir, std::unique_ptr<QObject> process, const TProcessIdentity& identity);
    void Ended(QObject* process, const std::string& gameDir);
    void CleanUpIfIdle(const std::string& gameDir);
    void HoldBack(const std::vector<THoldingProcess>& holders);
    void RetryDeferred();
    void Adopt(TCleanupRecord record, const std::string& path);

    std::map<std::string, TGameRuns> games_;
    std::map<QObject*, std::unique_ptr<QObject>> processes_;
    // Clean-ups held back while another Kabinex uses the directory are tried again when one of
    // the processes holding them back ends or a record changes; the slow fallback covers a
    // record directory that cannot be watched.
    std::vector<std::pair<THoldingProcess, std::unique_ptr<TProcessWatch>>> holders_;
    QFileSystemWatcher records_;
    QTimer retrySoon_;
    QTimer lockRetry_;
    QTimer fallback_;
    bool resuming_ = false;
};
