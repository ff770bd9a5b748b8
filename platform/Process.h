// Starting a program that outlives the launcher, and learning through the event loop when it ends.
// QProcess cannot do both: startDetached gives no exit notice, and a QProcess kills its child when
// it is destroyed.
#pragma once

#include <QObject>

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

class QSocketNotifier;

namespace platform {

// A started process, watched on the event loop of the thread that started it. Destroying the
// object never touches the process: it runs on, and is reaped in the background when it ends.
class ChildProcess : public QObject {
    Q_OBJECT
public:
    // Takes over pidfd (the process's descriptor; -1 when it cannot be watched).
    ChildProcess(pid_t pid, int pidfd);
    ~ChildProcess() override;

    pid_t Pid() const { return pid_; }
    // False once Finished has been emitted.
    bool Running() const { return !ended_; }
    // Whether the process has ended, asked of the system at once: for waits that do not run the
    // event loop. Reaps nothing; Finished still follows from the event loop.
    bool HasEnded() const;
    // The exit status once it has ended: the exit code, or 128 + the signal that ended it.
    int ExitStatus() const { return status_; }

signals:
    // Emitted once, from the event loop, after the process has ended and been reaped.
    void Finished(int status);

private:
    void PidfdReadable();

    pid_t pid_;
    int pidfd_;
    int status_ = -1;
    bool ended_ = false;
    QSocketNotifier* notifier_ = nullptr; // no child of this object: it may be deleted by a slot
};

enum class StandardStreams {
    Inherit, // stdout and stderr are the launcher's; stdin reads nothing
    Null,    // all three go to /dev/null
};

// Starts the executable file at path (no search) with argv (argv[0] included) in the working
// directory (the launcher's own when empty), in a session of its own with no terminal, default
// signal handling and no descriptors but the three standard ones and the inherited descriptors,
// which it gets as 3, 4, ... in their order (a lock it is to hold). Returns nullptr and sets
// *error to the system's error number when it cannot be started (the executable missing or not
// executable, the directory missing). The process gets the launcher's environment with the
// NAME=VALUE entries of extraEnvironment put in.
std::unique_ptr<ChildProcess> StartDetached(const std::string& path, const std::vector<std::string>& argv,
                                            const std::string& directory, StandardStreams streams,
                                            int* error = nullptr,
                                            const std::vector<std::string>& extraEnvironment = {},
                                            const std::vector<int>& inheritedDescriptors = {});

} // namespace platform
