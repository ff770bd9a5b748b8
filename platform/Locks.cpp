#include "Locks.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace platform {

namespace {

int Lock(int fd, int operation)
{
    int result;
    do {
        result = ::flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result;
}

} // namespace

TDirectoryLock TDirectoryLock::Take(const std::string& path, TLockKind kind, bool wait)
{
    TDirectoryLock lock;
    lock.fd_ = TFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!lock.fd_)
        return lock;
    const int operation = (kind == TLockKind::Shared ? LOCK_SH : LOCK_EX) | (wait ? 0 : LOCK_NB);
    if (Lock(lock.fd_.Get(), operation) == 0)
        lock.state_ = TState::Held;
    else if (errno == EWOULDBLOCK)
        lock.state_ = TState::Refused;
    // Closing, never unlocking: a program that inherited the descriptor keeps the lock.
    if (!lock.Held())
        lock.fd_ = TFd();
    return lock;
}

TFileLock::TFileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644))
{
    if (fd_ && Lock(fd_.Get(), LOCK_EX) != 0)
        fd_ = TFd();
}

} // namespace platform
