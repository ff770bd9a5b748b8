// The wait for the extraction script: the program repaints meanwhile, keys and clicks are
// swallowed (none is replayed afterwards), Escape or closing the main window or the progress
// window cancels, and a wait longer than half a second shows its progress through ProgressHook.
#pragma once

#include "FmxUtils.h"

#include <QObject>
#include <functional>

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
    // The user closed the main window during the wait; the close was held back.
    bool CloseRequested() const { return closeRequested_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Cancel();
    void ShowProgress();
    void WaitForEnd(TChildProcess& script);

    QWidget* window_;
    std::function<double()> progress_;
    QEventLoop* loop_ = nullptr;
    bool cancelled_ = false;
    bool closeRequested_ = false;
    bool progressShown_ = false;
    qint64 startedAt_ = 0;
};
