#include "KeyHolder.h"

#include <QCoreApplication>
#include <QKeyEvent>

TKeyHolder::TKeyHolder(QWindow* window)
    : window_(window)
{
    QCoreApplication::instance()->installEventFilter(this);
}

TKeyHolder::~TKeyHolder()
{
    QCoreApplication::instance()->removeEventFilter(this);
    for (auto& event : held_)
        if (window_)
            QCoreApplication::postEvent(window_, event.release());
}

bool TKeyHolder::eventFilter(QObject* target, QEvent* event)
{
    const bool key = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
    // Keys come to the window first, which passes them on to its focused control.
    if (!key || window_ == nullptr || target != window_)
        return false;
    held_.emplace_back(static_cast<QKeyEvent*>(event)->clone());
    return true;
}
