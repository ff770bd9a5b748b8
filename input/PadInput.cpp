#include "PadInput.h"

#include <QAbstractButton>
#include <QAction>
#include <algorithm>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QWindow>
#include <chrono>

namespace {

std::int64_t SteadyMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Posted, not sent: a key that opens a modal window must run its loop from the event loop, not
// from inside the poll, or the poll's timer could not fire again until that window closed.
void PostKey(QWidget* window, int key, Qt::KeyboardModifiers modifiers, bool repeat)
{
    QWidget* focus = QApplication::focusWidget();
    QWidget* target = focus && focus->window() == window ? focus : window;
    QString text;
    if (key == Qt::Key_Return)
        text = QStringLiteral("\r");
    else if (key == Qt::Key_Escape)
        text = QStringLiteral("\x1b");
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, modifiers, text, repeat));
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, key, modifiers, text, repeat));
}

// The list's views where the window has them: checkable actions on Ctrl+1, Ctrl+2, ... in order.
std::vector<QAction*> ViewActions(QWidget* window)
{
    std::vector<QAction*> views;
    for (int digit = 1; digit <= 9; ++digit) {
        const QKeySequence keys(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + digit));
        QAction* found = nullptr;
        for (QAction* action : window->findChildren<QAction*>())
            if (action->isCheckable() && action->shortcut() == keys)
                found = action;
        if (!found)
            break;
        views.push_back(found);
    }
    return views;
}

// The key of the view next to the checked one, or a page key where there are no views.
std::pair<int, Qt::KeyboardModifiers> ViewKey(QWidget* window, int step)
{
    const std::vector<QAction*> views = ViewActions(window);
    if (views.empty())
        return {step < 0 ? Qt::Key_PageUp : Qt::Key_PageDown, Qt::NoModifier};
    const int count = static_cast<int>(views.size());
    int checked = 0;
    for (int i = 0; i < count; ++i)
        if (views[i]->isChecked())
            checked = i;
    const int next = (checked + step + count) % count;
    return {Qt::Key_1 + next, Qt::ControlModifier};
}

} // namespace

TPadInput::TPadInput(TPadWindows windows, std::function<std::int64_t()> clock)
    : windows_(std::move(windows))
    , clock_(clock ? std::move(clock) : SteadyMilliseconds)
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &TPadInput::Poll);
    // Coming back to Kabinex (after a game, from another program) reads at once, so that what
    // the pad did meanwhile is dropped before anything new is acted on.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this] { timer_.start(0); });
    if (devices_.Available())
        timer_.start(0);
}

bool TPadInput::Listening() const
{
    if (QApplication::activeWindow() == nullptr)
        return false;
    return !(windows_.gameRunning && windows_.gameRunning());
}

void TPadInput::Poll()
{
    const std::vector<TPadEvent> events = devices_.Read();
    const std::int64_t now = clock_();
    if (!Listening()) {
        mapper_.Reset();
        Schedule();
        return;
    }
    if (!events.empty())
        lastUsed_ = now;
    std::vector<TPadOutput> outputs = mapper_.Tick(now);
    for (const TPadEvent& event : events) {
        const auto more = event.pressed ? mapper_.Press(event.button, now) : mapper_.Release(event.button, now);
        outputs.insert(outputs.end(), more.begin(), more.end());
    }
    for (const TPadOutput& output : outputs)
        Act(output);
    Schedule();
}

void TPadInput::Act(const TPadOutput& output)
{
    QWidget* window = QApplication::activeWindow();
    const bool inMain = window == windows_.mainWindow;
    switch (output.command) {
    case TPadCommand::Up:
        return PostKey(window, Qt::Key_Up, Qt::NoModifier, output.repeat);
    case TPadCommand::Down:
        return PostKey(window, Qt::Key_Down, Qt::NoModifier, output.repeat);
    // Left and right page through the main window's list; the other windows have no list, so
    // there they move between the controls (the viewer's text, its buttons) as Tab does.
    case TPadCommand::PageUp:
        if (!inMain)
            return PostKey(window, Qt::Key_Backtab, Qt::ShiftModifier, output.repeat);
        return PostKey(window, Qt::Key_PageUp, Qt::NoModifier, output.repeat);
    case TPadCommand::PageDown:
        return PostKey(window, inMain ? Qt::Key_PageDown : Qt::Key_Tab, Qt::NoModifier, output.repeat);
    case TPadCommand::Accept:
        return PostKey(window, Qt::Key_Return, Qt::NoModifier, false);
    case TPadCommand::Cancel:
        // A stray B must not quit the cabinet; it still cancels a wait the progress window shows.
        if (!inMain || (windows_.progressWindow && windows_.progressWindow->isVisible()))
            PostKey(window, Qt::Key_Escape, Qt::NoModifier, false);
        return;
    case TPadCommand::Help:
        if (inMain && windows_.helpButton)
            QMetaObject::invokeMethod(windows_.helpButton, &QAbstractButton::click, Qt::QueuedConnection);
        return;
    case TPadCommand::PreviousView:
    case TPadCommand::NextView: {
        const auto [key, modifiers] = ViewKey(window, output.command == TPadCommand::NextView ? 1 : -1);
        return PostKey(window, key, modifiers, false);
    }
    case TPadCommand::Quit:
        if (inMain)
            PostKey(window, Qt::Key_Escape, Qt::NoModifier, false);
        return;
    }
}

void TPadInput::Schedule()
{
    if (!devices_.Available())
        return;
    int wait = PadIdleMilliseconds;
    if (devices_.Count() > 0 && Listening()) {
        const std::int64_t now = clock_();
        const auto deadline = mapper_.NextDeadline();
        wait = deadline || now - lastUsed_ < PadRestingAfterMilliseconds ? PadPollMilliseconds
                                                                          : PadRestingPollMilliseconds;
        if (deadline)
            wait = static_cast<int>(std::clamp<std::int64_t>(*deadline - now, 0, wait));
    }
    timer_.start(wait);
}
