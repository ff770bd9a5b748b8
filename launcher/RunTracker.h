// Keeps track of the emulators the launcher started and takes back the files extracted for a run
// once no emulator on that game's directory runs any more. Each pending clean-up is recorded on
// disk, so that the next start finishes what an ended Kabinex left undone.
#pragma once

#include "CleanupRecord.h"
#include "FmxUtils.h"

#include <QObject>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What one extracting launch leaves to clean up, and the file that records it.
struct TExtraction {
    TCleanupRecord record;
    std::string recordPath;

    // Takes back the files and drops the record.
    void Finish() const;
};

class TRunTracker : public QObject {
    Q_OBJECT
public:
    // Follows a started emulator on the game's directory (an absolute path); the extraction made
    // for this launch, if any, is cleaned up when the last emulator on that directory has ended.
    void Started(std::unique_ptr<TChildProcess> emulator, const std::string& gameDir,
                 std::optional<TExtraction> extraction);
    // An extraction whose emulator never started: cleaned up now, unless another emulator still
    // runs on that directory.
    void StartFailed(TExtraction extraction);

    // Finishes the clean-ups that an earlier Kabinex recorded and did not live to do: at once
    // when their emulators no longer run, else when they end. An extraction it left under way
    // is stopped first. Records of a Kabinex that still runs are left to it.
    void ResumeRecorded();

    int Running(const std::string& gameDir) const;
    bool CleanupPending(const std::string& gameDir) const;

signals:
    // After the clean-up of gameDir has run.
    void CleanedUp(const QString& gameDir);

private:
    struct TGameRuns {
        std::map<QObject*, TProcessIdentity> processes; // running on the directory
        std::vector<TExtraction> pending;
    };
    void Follow(const std::string& gameDir, std::unique_ptr<QObject> process, const TProcessIdentity& identity);
    void Ended(QObject* process, const std::string& gameDir);
    void CleanUpIfIdle(const std::string& gameDir);
    static void SaveRecords(TGameRuns& runs);

    std::map<std::string, TGameRuns> games_;
    std::map<QObject*, std::unique_ptr<QObject>> processes_;
};
