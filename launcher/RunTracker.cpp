#include "RunTracker.h"

#include "FileSystem.h"
#include "ProcessIdentity.h"
#include "SysUtils.h"

namespace {

constexpr int GroupEndPolls = 100;
constexpr int GroupEndPollMilliseconds = 20;

// An extraction whose Kabinex is gone has nobody to wait for it: its script and unzip tool end
// here, before its files are taken back.
void StopOrphanedExtraction(const TCleanupRecord& record)
{
    for (const TProcessIdentity& process : record.processes) {
        if (!process.IsRunning())
            continue;
        KillGroup(process);
        for (int i = 0; i < GroupEndPolls && GroupHasLiveProcesses(process.pid); ++i)
            platform::SleepMilliseconds(GroupEndPollMilliseconds);
    }
}

} // namespace

void TExtraction::Finish() const
{
    record.Finish();
    platform::DeleteFile(recordPath);
}

void TRunTracker::Started(std::unique_ptr<TChildProcess> emulator, const std::string& gameDir,
                          std::optional<TExtraction> extraction)
{
    TChildProcess* process = emulator.get();
    connect(process, &TChildProcess::Finished, this, [this, process, gameDir] { Ended(process, gameDir); });
    if (extraction)
        games_[gameDir].pending.push_back(std::move(*extraction));
    Follow(gameDir, std::move(emulator), TProcessIdentity::Of(process->Pid()));
}

void TRunTracker::StartFailed(TExtraction extraction)
{
    const std::string gameDir = extraction.record.gameDir;
    games_[gameDir].pending.push_back(std::move(extraction));
    CleanUpIfIdle(gameDir);
}

void TRunTracker::ResumeRecorded()
{
    for (const std::string& path : CleanupRecordPaths()) {
        std::optional<TCleanupRecord> record = LoadCleanupRecord(path);
        if (!record || record->owner.IsRunning())
            continue;
        if (!record->created)
            StopOrphanedExtraction(*record);
        const std::string gameDir = record->gameDir;
        const std::vector<TProcessIdentity> processes = record->processes;
        record->owner = TProcessIdentity::Self(); // a third Kabinex must leave it to this one
        games_[gameDir].pending.push_back({std::move(*record), path});
        for (const TProcessIdentity& process : processes) {
            if (!process.IsRunning())
                continue;
            auto watch = std::make_unique<TProcessWatch>(process);
            TProcessWatch* key = watch.get();
            connect(key, &TProcessWatch::Ended, this, [this, key, gameDir] { Ended(key, gameDir); });
            Follow(gameDir, std::move(watch), process);
        }
        SaveRecords(games_[gameDir]);
        CleanUpIfIdle(gameDir);
    }
}

void TRunTracker::Follow(const std::string& gameDir, std::unique_ptr<QObject> process, const TProcessIdentity& identity)
{
    TGameRuns& runs = games_[gameDir];
    runs.processes[process.get()] = identity;
    processes_.emplace(process.get(), std::move(process));
    SaveRecords(runs);
}

void TRunTracker::Ended(QObject* process, const std::string& gameDir)
{
    if (auto found = processes_.find(process); found != processes_.end()) {
        found->second.release()->deleteLater(); // it is still emitting its signal
        processes_.erase(found);
    }
    TGameRuns& runs = games_[gameDir];
    runs.processes.erase(process);
    if (runs.processes.empty())
        CleanUpIfIdle(gameDir);
    else
        SaveRecords(runs);
}

void TRunTracker::CleanUpIfIdle(const std::string& gameDir)
{
    auto found = games_.find(gameDir);
    if (found == games_.end() || !found->second.processes.empty())
        return;
    const std::vector<TExtraction> pending = std::move(found->second.pending);
    games_.erase(found);
    if (pending.empty())
        return;
    for (const TExtraction& extraction : pending)
        extraction.Finish();
    emit CleanedUp(QString::fromStdString(gameDir));
}

// The records name the processes a later start has to wait for.
void TRunTracker::SaveRecords(TGameRuns& runs)
{
    std::vector<TProcessIdentity> identities;
    for (const auto& [process, identity] : runs.processes)
        identities.push_back(identity);
    for (TExtraction& extraction : runs.pending) {
        extraction.record.processes = identities;
        try {
            SaveCleanupRecord(extraction.recordPath, extraction.record);
        } catch (const EInOutError&) {
            // The record from before stays; a later start then waits for fewer processes.
        }
    }
}

int TRunTracker::Running(const std::string& gameDir) const
{
    const auto found = games_.find(gameDir);
    return found == games_.end() ? 0 : static_cast<int>(found->second.processes.size());
}

bool TRunTracker::CleanupPending(const std::string& gameDir) const
{
    const auto found = games_.find(gameDir);
    return found != games_.end() && !found->second.pending.empty();
}
