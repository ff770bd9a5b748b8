// Advisory locks on directories, seen by every process of the machine (flock: on FUSE file
// systems the kernel keeps them itself). A lock lives as long as any descriptor of its opening:
// a started program that inherits the descriptor holds it on after the launcher has let go.
#pragma once

#include "Files.h"

#include <string>

namespace platform {

enum class TLockKind { Shared, Exclusive };

class TDirectoryLock {
public:
    enum class TState {
        Held,
        Refused,    // another opening holds it in a way that excludes this one
        Unavailable // the directory cannot be opened, or its file system keeps no locks
    };

    TDirectoryLock() = default;
    // Takes the lock on the directory at path; wait: until it is granted, else refused at once.
    static TDirectoryLock Take(const std::string& path, TLockKind kind, bool wait = false);

    TState State() const { return state_; }
    bool Held() const { return state_ == TState::Held; }
    // The descriptor holding the lock, for a program to inherit; -1 unless held.
    int Descriptor() const { return Held() ? fd_.Get() : -1; }

private:
    TFd fd_;
    TState state_ = TState::Unavailable;
};

// An exclusive lock on a lock file (made when missing), waited for and held while the object
// lives: the turns of several processes that rewrite one file.
class TFileLock {
public:
    explicit TFileLock(const std::string& path);
    bool Held() const { return static_cast<bool>(fd_); }

private:
    TFd fd_;
};

} // namespace platform
