// Activation tracking for the program's forms: a form's activation handler runs when the window is
// first shown and whenever the focus comes back to it from another form of the program or a file
// dialog; not when the user comes back from another program, and not after a message box or the
// error box. Keys that come while the handler runs wait for it (see KeyHolder.h).
#pragma once

#include <QObject>
#include <QPointer>
#include <QWindow>
#include <functional>

class QWidget;

class TActivation final : public QObject {
    Q_OBJECT
public:
    // Tracks window, which owns the tracker; a window that carries one counts as a form of the program.
    explicit TActivation(QWidget* window);

    void SetHandler(std::function<void()> handler) { handler_ = std::move(handler); }
    // Call from the window's show event: without a window manager a new window may never receive
    // the focus, and its first activation must still happen once it is on screen.
    void WindowShown();

private:
    void FocusWindowChanged(QWindow* now);
    void Run();

    QWidget* window_;
    std::function<void()> handler_;
    // The last window that had the focus, this one included; null after it was destroyed.
    QPointer<QWindow> lastFocusWindow_;
    // Whether that window's closing counts as the focus coming back from another window.
    bool lastFocusActivates_ = false;
    bool activatedOnce_ = false;
};
