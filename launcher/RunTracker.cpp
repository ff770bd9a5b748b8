#include "RunTracker.h"

#include "FileSystem.h"
#include "Files.h"
#include "Locks.h"
#include "ProcessIdentity.h"
#include "SysUtils.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int GroupEndPolls = 100;
constexpr int GroupEndPollMilliseconds = 20;
// A burst of record changes (a launch writes several) is looked at once.
constexpr int RetrySoonMilliseconds = 100;
constexpr int FallbackRetryMilliseconds = 60000;
constexpr int LockRetryMilliseconds = 2000;

// The extraction script a Kabinex started for this record: the shell running the record's
// EMUDIR/lockfile.bat, leading its own group. Nothing else is ever signalled.
bool IsRecordedScript(const TCleanupRecord& record, const TProcessIdentity& process)
{
    if (process.pid <= 1 || !process.IsRunning() || GroupOf(process.pid) != process.pid)
        return false;
    const std::vector<std::string> arguments = CommandLineOf(process.pid);
    return arguments.size() == 2 && arguments[1] == platform::JoinPath(record.emulatorDir, "lockfile.bat");
}

// An extraction whose Kabinex is gone has nobody to wait for it: its script and unzip tool end
// here, before its files are taken back.
void StopOrphanedExtraction(const TCleanupRecord& record)
{
    for (const TProcessIdentity& process : record.processes) {
        if (!IsRecordedScript(record, process))
            continue;
        KillGroup(process);
        for (int i = 0; i < GroupEndPolls && GroupHasLiveProcesses(process.pid); ++i)
            platform::SleepMilliseconds(GroupEndPollMilliseconds);
    }
}

bool GameRuns(const TProcessIdentity& emulator)
{
    return emulator.IsRunning() || SessionHasLiveProcesses(emulator);
}

// One directory under two spellings (a relative emulator directory, a link) is still one.
bool SameDirectory(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    const std::optional<platform::TEntryStatus> first = platform::PathStatus(a);
    const std::optional<platform::TEntryStatus> second = platform::PathStatus(b);
    return first && second && first->device == second->device && first->inode == second->inode;
}

// The sound records of every other Kabinex on gameDir.
std::vector<TCleanupRecord> OthersRecordsOn(const std::string& gameDir)
{
    const TProcessIdentity self = TProcessIdentity::Self();
    std::vector<TCleanupRecord> records;
    for (const std::string& path : CleanupRecordPaths()) {
        TLoadedRecord loaded = LoadCleanupRecord(path);
        if (loaded.record && loaded.record->owner != self && SameDirectory(loaded.record->GameDir(), gameDir))
            records.push_back(std::move(*loaded.record));
    }
    return records;
}

// A record of a live Kabinex that has not yet started its emulator is an extraction under way
// (unpacking, or moving what it unpacked in).
bool UnderWay(const TCleanupRecord& record)
{
    return !record.staging.empty() && (record.Extracting() || record.processes.empty()) && record.owner.IsRunning();
}

// What keeps a clean-up of gameDir from running now: another Kabinex's emulator on gameDir, or
// another Kabinex extracting there. Nothing when the directory is free.
std::vector<THoldingProcess> HoldersOn(const std::string& gameDir)
{
    std::vector<THoldingProcess> holders;
    for (const TCleanupRecord& record : OthersRecordsOn(gameDir)) {
        if (UnderWay(record))
            holders.push_back({record.owner, TWatchScope::Process});
        if (!record.Extracting())
            for (const TProcessIdentity& emulator : record.processes)
                if (GameRuns(emulator))
                    holders.push_back({emulator, TWatchScope::Session});
    }
    return holders;
}

} // namespace

bool ExtractionUnderWayElsewhere(const std::string& gameDir)
{
    for (const TCleanupRecord& record : OthersRecordsOn(gameDir))
        if (UnderWay(record))
            return true;
    return false;
}

void TRecordedLaunch::Finish() const
{
    record.Finish();
    platform::DeleteFile(recordPath);
}

TRunTracker::TRunTracker()
{
    retrySoon_.setSingleShot(true);
    retrySoon_.setInterval(RetrySoonMilliseconds);
    connect(&retrySoon_, &QTimer::timeout, this, &TRunTracker::RetryDeferred);
    connect(&records_, &QFileSystemWatcher::directoryChanged, &retrySoon_, qOverload<>(&QTimer::start));
    // A lock names no process to wait for: it is asked again now and then.
    lockRetry_.setSingleShot(true);
    lockRetry_.setInterval(LockRetryMilliseconds);
    connect(&lockRetry_, &QTimer::timeout, this, &TRunTracker::RetryDeferred);
    fallback_.setInterval(FallbackRetryMilliseconds);
    connect(&fallback_, &QTimer::timeout, this, &TRunTracker::RetryDeferred);
}

void TRunTracker::Started(std::unique_ptr<TChildProcess> emulator, TRecordedLaunch launch)
{
    const std::string gameDir = launch.record.GameDir();
    const TProcessIdentity identity = TProcessIdentity::Of(emulator->Pid());
    // A program that forks and exits leaves the game running in its session.
    auto watch = std::make_unique<TProcessWatch>(identity, TWatchScope::Session);
    TProcessWatch* key = watch.get();
    emulator.release()->setParent(key); // reaps the emulator itself
    connect(key, &TProcessWatch::Ended, this,
            [this, key, gameDir, game = launch.record.game, started = QDateTime::currentDateTime()] {
                Ended(key, gameDir);
                emit GameEnded(game, started);
            });
    games_[gameDir].pending.push_back(std::move(launch));
    Follow(gameDir, std::move(watch), identity);
}

void TRunTracker::StartFailed(TRecordedLaunch extraction)
{
    const std::string gameDir = extraction.record.GameDir();
    games_[gameDir].pending.push_back(std::move(extraction));
    CleanUpIfIdle(gameDir);
}

std::vector<std::string> TRunTracker::ResumeRecorded()
{
    std::vector<std::string> setAside;
    resuming_ = true;
    for (const std::string& path : CleanupRecordPaths()) {
        TLoadedRecord loaded = LoadCleanupRecord(path);
        if (!loaded.record) {
            if (loaded.fault.empty())
                continue; // taken over or finished meanwhile
            const std::string aside = SetRecordAside(path);
            std::fprintf(stderr, "kabinex: registro de limpieza %s no válido (%s): apartado como %s, sin usar\n",
                         path.c_str(), loaded.fault.c_str(), aside.empty() ? "?" : aside.c_str());
            if (!aside.empty())
                setAside.push_back(aside);
            continue;
        }
        if (loaded.record->owner.IsRunning())
            continue; // its Kabinex (or this one) still looks after it
        // Renamed to a name of this Kabinex's: of two taking over at once, one gets it.
        const std::string claimed = NewCleanupRecordPath();
        if (!platform::RenameReplacing(path, claimed))
            continue;
        Adopt(std::move(*loaded.record), claimed);
    }
    resuming_ = false;
    return setAside;
}

void TRunTracker::Adopt(TCleanupRecord record, const std::string& path)
{
    if (record.Extracting()) {
        StopOrphanedExtraction(record);
        record.Finish();
        // The two files are the ended extraction's only while no other Kabinex has its turn.
        const platform::TDirectoryLock turn =
            platform::TDirectoryLock::Take(record.emulatorDir, platform::TLockKind::Exclusive);
        if (turn.State() != platform::TDirectoryLock::TState::Refused) {
            platform::DeleteFile(platform::JoinPath(record.emulatorDir, "lockfile.$$$"));
            platform::DeleteFile(platform::JoinPath(record.emulatorDir, "lockfile.bat"));
        }
        platform::DeleteFile(path);
        return;
    }
    const std::string gameDir = record.GameDir();
    std::vector<TProcessIdentity> emulators = record.processes;
    // An emulator its Kabinex did not live to record is found by the mark it was started with.
    if (!record.launchMark.empty())
        for (const TProcessIdentity& session : SessionsMarked(record.launchMark))
            if (std::find(emulators.begin(), emulators.end(), session) == emulators.end())
                emulators.push_back(session);
    record.processes = emulators;
    record.owner = TProcessIdentity::Self();
    try {
        SaveCleanupRecord(path, record);
    } catch (const Exception&) {
        // The record as it was still names the same emulators and files.
    }
    games_[gameDir].pending.push_back({std::move(record), path});
    for (const TProcessIdentity& emulator : emulators) {
        if (!GameRuns(emulator))
            continue;
        auto watch = std::make_unique<TProcessWatch>(emulator, TWatchScope::Session);
        TProcessWatch* key = watch.get();
        connect(key, &TProcessWatch::Ended, this, [this, key, gameDir] { Ended(key, gameDir); });
        Follow(gameDir, std::move(watch), emulator);
    }
    CleanUpIfIdle(gameDir);
}

void TRunTracker::Follow(const std::string& gameDir, std::unique_ptr<QObject> process, const TProcessIdentity& identity)
{
    games_[gameDir].processes[process.get()] = identity;
    processes_.emplace(process.get(), std::move(process));
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
}

void TRunTracker::CleanUpIfIdle(const std::string& gameDir)
{
    auto found = games_.find(gameDir);
    if (found == games_.end() || !found->second.processes.empty())
        return;
    // A launch that brought nothing in has nothing to wait for: only its record goes.
    std::vector<TRecordedLaunch>& pending = found->second.pending;
    std::erase_if(pending, [](const TRecordedLaunch& launch) {
        const bool nothingBroughtIn = launch.record.created && launch.record.created->empty()
            && !launch.record.madeGameDir && launch.record.staging.empty();
        if (nothingBroughtIn)
            launch.Finish();
        return nothingBroughtIn;
    });
    if (pending.empty()) {
        games_.erase(found);
        return;
    }
    if (const std::vector<THoldingProcess> holders = HoldersOn(gameDir); !holders.empty()) {
        HoldBack(holders);
        return;
    }
    // A game whose processes hold the directory shared (one no record names, of a Kabinex that
    // cannot write its records) keeps its files; held for the clean-up, it starts no game meanwhile.
    const platform::TDirectoryLock exclusive = platform::TDirectoryLock::Take(gameDir, platform::TLockKind::Exclusive);
    if (exclusive.State() == platform::TDirectoryLock::TState::Refused) {
        if (!lockRetry_.isActive())
            lockRetry_.start();
        return;
    }
    const std::vector<TRecordedLaunch> finishing = std::move(pending);
    games_.erase(found);
    for (const TRecordedLaunch& extraction : finishing)
        extraction.Finish();
    emit CleanedUp(QString::fromStdString(gameDir));
    // A Kabinex that ended while this one waited may have left records only this one can finish.
    if (!resuming_)
        ResumeRecorded();
}

void TRunTracker::HoldBack(const std::vector<THoldingProcess>& holders)
{
    for (const THoldingProcess& holder : holders) {
        const bool watched = std::any_of(holders_.begin(), holders_.end(),
                                         [&holder](const auto& entry) { return entry.first == holder; });
        if (watched)
            continue;
        auto watch = std::make_unique<TProcessWatch>(holder.process, holder.scope);
        connect(watch.get(), &TProcessWatch::Ended, &retrySoon_, qOverload<>(&QTimer::start));
        holders_.emplace_back(holder, std::move(watch));
    }
    // A record written, replaced or removed may free the directory: an extraction elsewhere has
    // brought its files in, its Kabinex has cleaned up.
    if (records_.directories().isEmpty())
        records_.addPath(QString::fromStdString(CleanupRecordDir()));
    if (!fallback_.isActive())
        fallback_.start();
}

void TRunTracker::RetryDeferred()
{
    holders_.clear(); // each clean-up still held back names its holders again
    std::vector<std::string> deferred;
    for (const auto& [gameDir, runs] : games_)
        if (runs.processes.empty() && !runs.pending.empty())
            deferred.push_back(gameDir);
    for (const std::string& gameDir : deferred)
        CleanUpIfIdle(gameDir);
    if (holders_.empty()) {
        if (!records_.directories().isEmpty())
            records_.removePaths(records_.directories());
        fallback_.stop();
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
