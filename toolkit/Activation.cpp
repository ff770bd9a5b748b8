#include "Activation.h"

#include "Guard.h"
#include "KeyHolder.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

namespace {

// The program's own forms and the file dialogs count: the focus coming back from a message box or
// the error box is no activation (an error box shown by the activation would come back forever).
bool ClosingActivates(const QWindow* window)
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->windowHandle() == window)
            return widget->findChild<TActivation*>(QString(), Qt::FindDirectChildrenOnly) != nullptr
                || qobject_cast<QFileDialog*>(widget) != nullptr;
    return false;
}

} // namespace

TActivation::TActivation(QWidget* window)
    : QObject(window)
    , window_(window)
{
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &TActivation::FocusWindowChanged);
}

void TActivation::WindowShown()
{
    if (!activatedOnce_)
        QTimer::singleShot(0, this, [this] {
            if (!activatedOnce_)
                Run();
        });
}

void TActivation::Run()
{
    if (!handler_)
        return;
    activatedOnce_ = true;
    const TKeyHolder holdKeys(window_->windowHandle());
    Guarded(handler_);
}

// Each form keeps its own record of where the focus was, so the order in which forms were
// created (and so the order in which they hear of a change) cannot hide an activation. What counts
// is recorded when a window gets the focus: a file dialog is gone by the time the focus comes back.
void TActivation::FocusWindowChanged(QWindow* now)
{
    if (now == nullptr)
        return;
    const QPointer<QWindow> previous = lastFocusWindow_;
    const bool previousActivates = lastFocusActivates_;
    lastFocusWindow_ = now;
    lastFocusActivates_ = ClosingActivates(now);
    if (now != window_->windowHandle() || !handler_)
        return;
    const bool fromOtherWindow = previousActivates && previous != now;
    if (activatedOnce_ && !fromOtherWindow)
        return;
    Run();
}
