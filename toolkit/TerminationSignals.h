// When the system asks the program to end (SIGTERM and SIGHUP at log-out and shutdown, SIGINT,
// the session manager's request to save, the X server going away), it ends the way the user's
// quit does, so nothing the user changed is lost. When the toolkit ends the process itself, the
// process ends right after the save, with the toolkit's status: no static destructor runs under the
// live application and its threads.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

class TTerminationSignals : public QObject {
    Q_OBJECT
public:
    // quit: ends the program as the user's quit does; what must be saved is saved on that way out.
    // save: saves at once, for the ends that leave no way out through quit: the X server gone
    // (the toolkit ends the process itself), a modal window open (its own event loop would carry
    // on as if the user had cancelled it), a second request while the first is under way.
    TTerminationSignals(std::function<void()> quit, std::function<void()> save);
    // The signals' default actions come back.
    ~TTerminationSignals() override;

    // From now on the program is on its way out and save has nothing more to do: a request ends
    // the process at once.
    void Disarm();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Requested();
    void SaveOnce();
    void TrySave();

    std::function<void()> quit_;
    std::function<void()> save_;
    QSocketNotifier* notifier_ = nullptr;
    bool quitting_ = false;
    bool armed_ = true;
};
