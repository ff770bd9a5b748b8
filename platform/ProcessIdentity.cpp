#include "ProcessIdentity.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Without a descriptor to spare, the processes are asked about now and then instead.
constexpr int PollMilliseconds = 2000;
// Descriptors one watch holds at most; what a session has beyond them is found at the next look.
constexpr std::size_t MostWatched = 64;

std::string BootId()
{
    static const std::string id = [] {
        std::ifstream in("/proc/sys/kernel/random/boot_id");
        std::string text;
        std::getline(in, text);
        return text;
    }();
    return id;
}

// The fields of /proc/PID/stat after the command name (which may hold blanks and parentheses):
// the state first, then the parent, the group, ...
struct TStat {
    char state = '?';
    pid_t group = 0;
    pid_t session = 0;
    std::uint64_t startTicks = 0;
};

bool ReadStat(pid_t pid, TStat& stat)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text))
        return false;
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    pid_t parent = 0;
    fields >> stat.state >> parent >> stat.group >> stat.session;
    // Field 22 of the line is the start time; the stream stands at field 7 now.
    for (int i = 7; i < 22 && fields; ++i)
        fields >> field;
    fields >> stat.startTicks;
    return bool(fields);
}

int OpenPidfd(pid_t pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

} // namespace

TProcessIdentity TProcessIdentity::Of(pid_t pid)
{
    TStat stat;
    if (pid <= 0 || !ReadStat(pid, stat))
        return {};
    return {pid, stat.startTicks, BootId()};
}

TProcessIdentity TProcessIdentity::Self()
{
    return Of(::getpid());
}

bool TProcessIdentity::IsRunning() const
{
    TStat stat;
    return pid > 0 && bootId == BootId() && ReadStat(pid, stat) && stat.startTicks == startTicks
        && stat.state != 'Z' && stat.state != 'X';
}

namespace {

bool IsLive(const TStat& stat)
{
    return stat.state != 'Z' && stat.state != 'X';
}

// The live processes in /proc that satisfy the condition, at most `most` of them.
template <class Condition>
std::vector<TProcessIdentity> ProcessesWhere(Condition condition, std::size_t most)
{
    std::vector<TProcessIdentity> found;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return found;
    while (found.size() < most) {
        const dirent* entry = ::readdir(proc);
        if (!entry)
            break;
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        TStat stat;
        if (pid > 0 && ReadStat(pid, stat) && IsLive(stat) && condition(stat))
            found.push_back({pid, stat.startTicks, BootId()});
    }
    ::closedir(proc);
    return found;
}

template <class Condition>
bool AnyProcess(Condition condition)
{
    return !ProcessesWhere(condition, 1).empty();
}

} // namespace

void KillGroup(const TProcessIdentity& leader)
{
    // kill(-1) would reach every process of the user.
    if (leader.pid > 1 && leader.IsRunning() && GroupOf(leader.pid) == leader.pid)
        ::kill(-leader.pid, SIGKILL);
}

bool GroupHasLiveProcesses(pid_t group)
{
    return group > 0 && AnyProcess([group](const TStat& stat) { return stat.group == group; });
}

bool SessionHasLiveProcesses(const TProcessIdentity& leader)
{
    return !LiveSessionMembers(leader, 1).empty();
}

std::vector<TProcessIdentity> LiveSessionMembers(const TProcessIdentity& leader, std::size_t most)
{
    if (leader.pid <= 1 || leader.bootId != BootId())
        return {};
    // A later session of the same number has members that started after the recorded leader
    // too, but then its leader holds the pid with another start time.
    const TProcessIdentity holder = TProcessIdentity::Of(leader.pid);
    if (holder.pid != 0 && holder.startTicks != leader.startTicks)
        return {};
    return ProcessesWhere(
        [&leader](const TStat& stat) { return stat.session == leader.pid && stat.startTicks >= leader.startTicks; },
        most);
}

namespace {

bool EnvironmentHolds(pid_t pid, const std::string& entry)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    for (std::string text; std::getline(in, text, '\0');)
        if (text == entry)
            return true;
    return false;
}

} // namespace

std::vector<TProcessIdentity> SessionsMarked(const std::string& entry)
{
    std::map<pid_t, std::uint64_t> earliest; // session: the earliest start of a marked process
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return {};
    while (const dirent* dirEntry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(dirEntry->d_name));
        TStat stat;
        if (pid <= 1 || !ReadStat(pid, stat) || !IsLive(stat) || stat.session <= 1 || !EnvironmentHolds(pid, entry))
            continue;
        auto [at, isNew] = earliest.try_emplace(stat.session, stat.startTicks);
        if (!isNew)
            at->second = std::min(at->second, stat.startTicks);
    }
    ::closedir(proc);
    std::vector<TProcessIdentity> sessions;
    for (const auto& [session, startTicks] : earliest) {
        TStat leader;
        const bool leads = ReadStat(session, leader) && leader.session == session;
        sessions.push_back({session, leads ? leader.startTicks : startTicks, BootId()});
    }
    return sessions;
}

std::optional<std::uint64_t> BytesReadBy(pid_t pid)
{
    if (pid <= 0)
        return std::nullopt;
    std::ifstream in("/proc/" + std::to_string(pid) + "/io");
    for (std::string field; in >> field;) {
        std::uint64_t value = 0;
        if (!(in >> value))
            break;
        if (field == "rchar:")
            return value;
    }
    return std::nullopt;
}

std::vector<std::string> CommandLineOf(pid_t pid)
{
    std::vector<std::string> arguments;
    if (pid <= 0)
        return arguments;
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    for (std::string argument; std::getline(in, argument, '\0');)
        arguments.push_back(argument);
    return arguments;
}

pid_t GroupOf(pid_t pid)
{
    TStat stat;
    return pid > 0 && ReadStat(pid, stat) && IsLive(stat) ? stat.group : 0;
}

TProcessWatch::TProcessWatch(const TProcessIdentity& process, TWatchScope scope, QObject* parent)
    : QObject(parent), process_(process), scope_(scope)
{
    if (process_.pid > 0 && Watch(process_) == TOpened::NoDescriptor)
        PollSlowly();
    QTimer::singleShot(0, this, &TProcessWatch::Check);
}

TProcessWatch::~TProcessWatch()
{
    for (const TWatched& watched : watched_) {
        delete watched.notifier;
        ::close(watched.pidfd);
    }
}

// The descriptor names the process from here on; the identity check after opening it makes sure
// it is the one meant and not a later holder of the pid.
TProcessWatch::TOpened TProcessWatch::Watch(const TProcessIdentity& process)
{
    const int pidfd = OpenPidfd(process.pid);
    if (pidfd < 0)
        return errno == ESRCH ? TOpened::Gone : TOpened::NoDescriptor;
    if (!process.IsRunning()) {
        ::close(pidfd);
        return TOpened::Gone;
    }
    auto* notifier = new QSocketNotifier(pidfd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TProcessWatch::Check);
    watched_.push_back({pidfd, notifier});
    return TOpened::Watched;
}

// A process's descriptor stays readable once it has ended: its notifier goes, or the event loop
// would report it on every pass.
void TProcessWatch::RetireEnded()
{
    std::erase_if(watched_, [](const TWatched& watched) {
        pollfd readable{watched.pidfd, POLLIN, 0};
        if (::poll(&readable, 1, 0) == 0)
            return false;
        watched.notifier->setEnabled(false);
        watched.notifier->deleteLater(); // it may be emitting now
        ::close(watched.pidfd);
        return true;
    });
}

// Watches what the session has left once its leader has ended; false when nothing is left.
bool TProcessWatch::WatchSession()
{
    for (;;) {
        const std::vector<TProcessIdentity> members = LiveSessionMembers(process_, MostWatched);
        if (members.empty())
            return false;
        bool descriptorsLeft = true;
        for (const TProcessIdentity& member : members)
            descriptorsLeft = Watch(member) != TOpened::NoDescriptor && descriptorsLeft;
        if (!watched_.empty())
            return true;
        if (!descriptorsLeft) {
            PollSlowly();
            return true;
        }
        // Every one of them ended meanwhile: look again for what they started.
    }
}

void TProcessWatch::PollSlowly()
{
    if (!poll_) {
        poll_ = new QTimer(this);
        connect(poll_, &QTimer::timeout, this, &TProcessWatch::Check);
    }
    if (!poll_->isActive())
        poll_->start(PollMilliseconds);
}

void TProcessWatch::Check()
{
    if (ended_)
        return;
    RetireEnded();
    // A process still running without a descriptor is left to the slow poll.
    const bool waiting = !watched_.empty() || process_.IsRunning()
        || (scope_ == TWatchScope::Session && WatchSession());
    if (poll_ && !watched_.empty())
        poll_->stop();
    if (waiting)
        return;
    ended_ = true;
    emit Ended();
}
