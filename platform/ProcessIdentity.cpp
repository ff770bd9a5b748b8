#include "ProcessIdentity.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int SessionPollMilliseconds = 200;

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

// Whether any process in /proc satisfies the condition.
template <class Condition>
bool AnyProcess(Condition condition)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        TStat stat;
        if (pid > 0 && ReadStat(pid, stat) && IsLive(stat) && condition(stat)) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
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
    if (leader.pid <= 1 || leader.bootId != BootId())
        return false;
    // A later session of the same number has members that started after the recorded leader
    // too, but then its leader holds the pid with another start time.
    const TProcessIdentity holder = TProcessIdentity::Of(leader.pid);
    if (holder.pid != 0 && holder.startTicks != leader.startTicks)
        return false;
    return AnyProcess([&leader](const TStat& stat) {
        return stat.session == leader.pid && stat.startTicks >= leader.startTicks;
    });
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
    // The descriptor names the process from here on; the identity check after opening it
    // makes sure it is the recorded one and not a later holder of the pid.
    pidfd_ = process_.pid > 0 ? OpenPidfd(process_.pid) : -1;
    if (pidfd_ >= 0) {
        notifier_ = new QSocketNotifier(pidfd_, QSocketNotifier::Read);
        connect(notifier_, &QSocketNotifier::activated, this, &TProcessWatch::Check);
    }
    if (scope_ == TWatchScope::Session || (pidfd_ < 0 && process_.IsRunning())) {
        // The processes a session leader leaves behind give no notice of their end, and without
        // a descriptor to spare neither does the process: ask now and then instead.
        poll_ = new QTimer(this);
        connect(poll_, &QTimer::timeout, this, &TProcessWatch::Check);
        poll_->start(scope_ == TWatchScope::Session ? SessionPollMilliseconds : 1000);
    }
    QTimer::singleShot(0, this, &TProcessWatch::Check);
}

TProcessWatch::~TProcessWatch()
{
    delete notifier_;
    if (pidfd_ >= 0)
        ::close(pidfd_);
}

bool TProcessWatch::Alive() const
{
    return process_.IsRunning() || (scope_ == TWatchScope::Session && SessionHasLiveProcesses(process_));
}

void TProcessWatch::Check()
{
    if (ended_ || Alive())
        return;
    ended_ = true;
    if (notifier_)
        notifier_->setEnabled(false);
    if (poll_)
        poll_->stop();
    emit Ended();
}
