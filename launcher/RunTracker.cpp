#include "RunTracker.h"

#include "Extraction.h"

void TRunTracker::Started(std::unique_ptr<TChildProcess> emulator, const std::string& gameDir,
                          std::optional<TExtraction> extraction)
{
    TGameRuns& runs = games_[gameDir];
    ++runs.running;
    // A second extraction while the first waits keeps the first's view of what was there before.
    if (extraction && !runs.pending)
        runs.pending = std::move(extraction);
    TChildProcess* process = emulator.get();
    connect(process, &TChildProcess::Finished, this, [this, process, gameDir] { Ended(process, gameDir); });
    emulators_.emplace(process, std::move(emulator));
}

void TRunTracker::StartFailed(TExtraction extraction)
{
    const std::string gameDir = extraction.gameDir;
    TGameRuns& runs = games_[gameDir];
    if (!runs.pending)
        runs.pending = std::move(extraction);
    CleanUpIfIdle(gameDir);
}

void TRunTracker::Ended(TChildProcess* emulator, const std::string& gameDir)
{
    if (auto found = emulators_.find(emulator); found != emulators_.end()) {
        found->second.release()->deleteLater(); // it is still emitting its signal
        emulators_.erase(found);
    }
    --games_[gameDir].running;
    CleanUpIfIdle(gameDir);
}

void TRunTracker::CleanUpIfIdle(const std::string& gameDir)
{
    auto found = games_.find(gameDir);
    if (found == games_.end() || found->second.running > 0)
        return;
    const std::optional<TExtraction> extraction = std::move(found->second.pending);
    games_.erase(found);
    if (!extraction)
        return;
    RemoveExtracted(extraction->gameDir, extraction->game, extraction->before);
    emit CleanedUp(QString::fromStdString(gameDir));
}

int TRunTracker::Running(const std::string& gameDir) const
{
    const auto found = games_.find(gameDir);
    return found == games_.end() ? 0 : found->second.running;
}

bool TRunTracker::CleanupPending(const std::string& gameDir) const
{
    const auto found = games_.find(gameDir);
    return found != games_.end() && found->second.pending.has_value();
}
