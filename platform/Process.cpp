#include "Process.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <sys/pidfd.h>
}

extern char** environ;

namespace platform {
namespace {

int StatusOf(const siginfo_t& info)
{
    return info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
}

// Reaps an ended process without waiting: true when it has ended (and is gone), with its status.
bool ReapIfEnded(int pidfd, int& status)
{
    siginfo_t info{};
    int result;
    do {
        result = ::waitid(P_PIDFD, static_cast<id_t>(pidfd), &info, WEXITED | WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result < 0)
        return true; // someone else reaped it (or children are reaped automatically)
    if (info.si_pid == 0)
        return false;
    status = StatusOf(info);
    return true;
}

// A process nobody watches any more is waited for on a thread of its own, so it leaves no zombie.
void ReapInBackground(int pidfd)
{
    std::thread([pidfd] {
        siginfo_t info{};
        while (::waitid(P_PIDFD, static_cast<id_t>(pidfd), &info, WEXITED) < 0 && errno == EINTR) {
        }
        ::close(pidfd);
    }).detach();
}

class SpawnSettings {
public:
    SpawnSettings()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSettings()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

// The inherited descriptors as the program's 3, 4, ...: each is first copied above those numbers
// in the launcher, so that no copy overwrites a descriptor still to be copied.
class InheritedDescriptors {
public:
    explicit InheritedDescriptors(const std::vector<int>& descriptors)
    {
        for (int fd : descriptors)
            copies_.push_back(::fcntl(fd, F_DUPFD_CLOEXEC, FirstNumber + static_cast<int>(descriptors.size())));
    }
    ~InheritedDescriptors()
    {
        for (int copy : copies_)
            if (copy >= 0)
                ::close(copy);
    }
    InheritedDescriptors(const InheritedDescriptors&) = delete;
    InheritedDescriptors& operator=(const InheritedDescriptors&) = delete;

    int AddTo(posix_spawn_file_actions_t& actions) const
    {
        int rc = 0;
        for (std::size_t i = 0; i < copies_.size() && rc == 0; ++i)
            rc = copies_[i] < 0 ? EBADF : posix_spawn_file_actions_adddup2(&actions, copies_[i], FirstNumber + int(i));
        return rc == 0 ? posix_spawn_file_actions_addclosefrom_np(&actions, FirstNumber + int(copies_.size())) : rc;
    }

private:
    static constexpr int FirstNumber = 3;
    std::vector<int> copies_;
};

int Configure(SpawnSettings& settings, const std::string& directory, StandardStreams streams,
              const InheritedDescriptors& inherited)
{
    int rc = 0;
    if (!directory.empty())
        rc = posix_spawn_file_actions_addchdir_np(&settings.actions, directory.c_str());
    if (rc == 0)
        rc = posix_spawn_file_actions_addopen(&settings.actions, 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0 && streams == StandardStreams::Null)
        rc = posix_spawn_file_actions_addopen(&settings.actions, 1, "/dev/null", O_WRONLY, 0);
    if (rc == 0 && streams == StandardStreams::Null)
        rc = posix_spawn_file_actions_adddup2(&settings.actions, 1, 2);
    if (rc == 0)
        rc = inherited.AddTo(settings.actions);

    // The launcher's blocked or ignored signals are no business of the program it starts.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    if (rc == 0)
        rc = posix_spawnattr_setsigmask(&settings.attributes, &none);
    if (rc == 0)
        rc = posix_spawnattr_setsigdefault(&settings.attributes, &all);
    if (rc == 0)
        rc = posix_spawnattr_setflags(&settings.attributes,
                                      POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    return rc;
}

} // namespace

ChildProcess::ChildProcess(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd)
{
    if (pidfd_ < 0)
        return;
    notifier_ = new QSocketNotifier(pidfd_, QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, this, &ChildProcess::PidfdReadable);
}

ChildProcess::~ChildProcess()
{
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->deleteLater();
    }
    if (pidfd_ < 0)
        return;
    if (ReapIfEnded(pidfd_, status_))
        ::close(pidfd_);
    else
        ReapInBackground(pidfd_);
}

bool ChildProcess::HasEnded() const
{
    if (ended_ || pidfd_ < 0)
        return ended_;
    siginfo_t info{};
    int result;
    do {
        result = ::waitid(P_PIDFD, static_cast<id_t>(pidfd_), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (result < 0 && errno == EINTR);
    return result < 0 || info.si_pid != 0;
}

void ChildProcess::PidfdReadable()
{
    if (pidfd_ < 0 || !ReapIfEnded(pidfd_, status_))
        return;
    notifier_->setEnabled(false);
    ::close(pidfd_);
    pidfd_ = -1;
    ended_ = true;
    emit Finished(status_); // last: a receiver may delete this object
}

namespace {

// environ with each NAME=VALUE of extra in place of any entry of that NAME.
std::vector<char*> EnvironmentWith(const std::vector<std::string>& extra)
{
    std::vector<char*> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('=') + 1);
        const bool replaced = std::any_of(extra.begin(), extra.end(),
                                          [&](const std::string& e) { return e.starts_with(name); });
        if (!replaced)
            entries.push_back(*entry);
    }
    for (const std::string& entry : extra)
        entries.push_back(const_cast<char*>(entry.c_str()));
    entries.push_back(nullptr);
    return entries;
}

} // namespace

std::unique_ptr<ChildProcess> StartDetached(const std::string& path, const std::vector<std::string>& argv,
                                            const std::string& directory, StandardStreams streams, int* error,
                                            const std::vector<std::string>& extraEnvironment,
                                            const std::vector<int>& inheritedDescriptors)
{
    const auto fail = [error](int code) {
        if (error)
            *error = code;
        return nullptr;
    };
    SpawnSettings settings;
    const InheritedDescriptors inherited(inheritedDescriptors);
    if (const int rc = Configure(settings, directory, streams, inherited); rc != 0)
        return fail(rc);

    std::vector<char*> arguments;
    for (const std::string& argument : argv)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);

    // glibc's posix_spawn waits until the exec has happened and returns its error, so a missing
    // or non-executable file is reported here, not as an exit status.
    pid_t pid = 0;
    std::vector<char*> environment = EnvironmentWith(extraEnvironment);
    if (const int rc = posix_spawn(&pid, path.c_str(), &settings.actions, &settings.attributes,
                                   arguments.data(), environment.data());
        rc != 0)
        return fail(rc);

    // The child cannot be reaped by anyone else before this, so its pid still names it.
    const int pidfd = pidfd_open(pid, 0);
    if (pidfd < 0) {
        // It runs, but its end cannot be watched (no descriptors left, or a kernel before 5.3):
        // it is reaped in the background and the object never reports it finished.
        std::thread([pid] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    if (error)
        *error = 0;
    return std::make_unique<ChildProcess>(pid, pidfd);
}

} // namespace platform
