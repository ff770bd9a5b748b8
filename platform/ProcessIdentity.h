// Telling whether a process recorded earlier, perhaps by an earlier Kabinex, still runs, and
// learning when it ends. A pid alone is not enough: the system reuses it, so a process is named
// by its pid, its start time and the boot it belongs to.
#pragma once

#include <QObject>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;

struct TProcessIdentity {
    pid_t pid = 0;
    std::uint64_t startTicks = 0; // clock ticks after boot
    std::string bootId;
    bool operator==(const TProcessIdentity&) const = default;

    // The process now holding pid; an identity with pid 0 when there is none.
    static TProcessIdentity Of(pid_t pid);
    static TProcessIdentity Self();
    // The very process named still exists and has not ended (a zombie has ended).
    bool IsRunning() const;
};

// Kills every process in the group this process leads (the extraction script and the unzip tool
// it started), only when it is still the one named, leads its group and is not init (pid 1).
void KillGroup(const TProcessIdentity& leader);

// Whether any process of the group is still alive (zombies do not count).
bool GroupHasLiveProcesses(pid_t group);

// Whether the session this process leads still has a live process that started no earlier than
// it did: a program that forks and exits leaves its children there, and they count as it.
bool SessionHasLiveProcesses(const TProcessIdentity& leader);
// Those processes, at most `most` of them.
std::vector<TProcessIdentity> LiveSessionMembers(const TProcessIdentity& leader, std::size_t most);

// The sessions holding a live process whose environment has the entry (NAME=VALUE): a program
// started with a mark in its environment, and everything it started, carry it. Each is named by
// its leader as SessionHasLiveProcesses takes it; a leader that has ended by the earliest start
// of the marked processes.
std::vector<TProcessIdentity> SessionsMarked(const std::string& entry);

// The bytes the process has read through read calls, its reaped children's included; nothing when
// the system does not tell (another user's process, no such accounting).
std::optional<std::uint64_t> BytesReadBy(pid_t pid);

// The arguments the process was started with; empty when it is gone or not readable.
std::vector<std::string> CommandLineOf(pid_t pid);
// The process group of a live process; 0 when there is none.
pid_t GroupOf(pid_t pid);

// What a watch waits for the end of.
enum class TWatchScope {
    Process, // the process itself
    Session, // every process of the session it leads
};

// Emits Ended once the named process has ended; at once (from the event loop) when it is not
// running now. Works for processes that are not children of this one. Waiting costs nothing: each
// process waited for is a descriptor the event loop reports once, when it ends; a session whose
// leader has ended is looked over once then, and again each time all it had left has ended.
class TProcessWatch : public QObject {
    Q_OBJECT
public:
    explicit TProcessWatch(const TProcessIdentity& process, TWatchScope scope = TWatchScope::Process,
                           QObject* parent = nullptr);
    ~TProcessWatch() override;

signals:
    void Ended();

private:
    enum class TOpened { Watched, Gone, NoDescriptor };
    struct TWatched {
        int pidfd;
        QSocketNotifier* notifier;
    };
    void Check();
    TOpened Watch(const TProcessIdentity& process);
    void RetireEnded();
    bool WatchSession();
    void PollSlowly();

    TProcessIdentity process_;
    TWatchScope scope_;
    std::vector<TWatched> watched_;
    QTimer* poll_ = nullptr; // only while no descriptor can be had
    bool ended_ = false;
};
