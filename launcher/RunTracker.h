// Keeps track of the emulators the launcher started and removes the files extracted for a run
// once no emulator started on that game is running any more.
#pragma once

#include "FmxUtils.h"

#include <QObject>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

// What one extracting launch added to a game's directory is everything not named in `before`.
struct TExtraction {
    std::string game;
    std::string gameDir;
    std::set<std::string> before;
};

class TRunTracker : public QObject {
    Q_OBJECT
public:
    // Follows a started emulator for the game's directory; the extraction made for this launch,
    // if any, is cleaned up when the last emulator on that directory has ended.
    void Started(std::unique_ptr<TChildProcess> emulator, const std::string& gameDir,
                 std::optional<TExtraction> extraction);
    // An extraction whose emulator never started: cleaned up now, unless another emulator still
    // runs on that directory.
    void StartFailed(TExtraction extraction);

    int Running(const std::string& gameDir) const;
    bool CleanupPending(const std::string& gameDir) const;

signals:
    // After the clean-up of gameDir has run.
    void CleanedUp(const QString& gameDir);

private:
    struct TGameRuns {
        int running = 0;
        std::optional<TExtraction> pending; // the first extraction not yet cleaned up
    };
    void Ended(TChildProcess* emulator, const std::string& gameDir);
    void CleanUpIfIdle(const std::string& gameDir);

    std::map<std::string, TGameRuns> games_;
    std::map<TChildProcess*, std::unique_ptr<TChildProcess>> emulators_;
};
