// The wait for the extraction script: the program repaints meanwhile, keys and clicks are
// swallowed (none is replayed afterwards), Escape or closing the main window or the progress
// window cancels, and a wait longer than half a second shows its progress through ProgressHook.
#pragma once

#include "FmxUtils.h"
#include "ProcessIdentity.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QEventLoop;
class QWidget;

enum class TWaitEnd { ScriptEnded, Cancelled };

class TExtractionWait : public QObject {
    Q_OBJECT
public:
    // window: the main window, whose closing cancels the wait; progress: the fraction of the
    // archive already on disk, asked for while the wait lasts.
    TExtractionWait(QWidget* window, std::function<double()> progress);

    // Returns when the script has ended, or after a cancel once the script and every process it
    // started have been killed and have ended.
    TWaitEnd Run(TChildProcess& script);
    // Returns once ready() holds, asked every few milliseconds, or at a cancel; shows no progress.
    TWaitEnd RunUntil(const std::function<bool()>& ready);
    // The user closed the main window during the wait; the close was held back.
    bool CloseRequested() const { return closeRequested_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Cancel();
    void ShowProgress();
    void WaitForEnd(TChildProcess& script);
    void Watch(bool on);

    QWidget* window_;
    std::function<double()> progress_;
    QEventLoop* loop_ = nullptr;
    bool cancelled_ = false;
    bool closeRequested_ = false;
    bool progressShown_ = false;
    qint64 startedAt_ = 0;
};

// How far an extraction has come, measured without walking what it wrote: the bytes the script
// and the processes of its session have read (the archive, read once through), as a share of the
// archive's size. Where the system does not tell, the bytes of the files in the private directory
// against the archive's uncompressed size, looked at once a second.
class TExtractionShare {
public:
    TExtractionShare(pid_t script, const std::string& archive, std::string stagingDir);
    double Fraction();

private:
    std::optional<std::uint64_t> BytesRead();
    double TreeShare();

    TProcessIdentity script_;
    std::vector<TProcessIdentity> tools_; // the members of its session last found
    std::string archive_;
    std::string stagingDir_;
    std::uint64_t archiveBytes_ = 0;
    std::optional<std::uint64_t> uncompressed_;
    double shown_ = 0.0; // never goes back: a tool ended but not yet reaped counts nowhere
    qint64 lastLook_ = 0;
};
