// Telling whether a process recorded earlier, perhaps by an earlier Kabinex, still runs, and
// learning when it ends. A pid alone is not enough: the system reuses it, so a process is named
// by its pid, its start time and the boot it belongs to.
#pragma once

#include <QObject>
#include <sys/types.h>

#include <cstdint>
#include <string>

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
// it started), when it is still the one named.
void KillGroup(const TProcessIdentity& leader);

// Whether any process of the group is still alive (zombies do not count).
bool GroupHasLiveProcesses(pid_t group);

// Emits Ended once the named process has ended; at once (from the event loop) when it is not
// running now. Works for processes that are not children of this one.
class TProcessWatch : public QObject {
    Q_OBJECT
public:
    explicit TProcessWatch(const TProcessIdentity& process, QObject* parent = nullptr);
    ~TProcessWatch() override;

signals:
    void Ended();

private:
    void Check();

    TProcessIdentity process_;
    int pidfd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* poll_ = nullptr;
    bool ended_ = false;
};
