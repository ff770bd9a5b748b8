#include "Screen.h"

#include <QApplication>
#include <QCursor>

namespace {
TCursor current = TCursor::Default;
}

namespace Screen {

TCursor Cursor()
{
    return current;
}

// One override at most: the busy cursor is a state, not a stack of requests.
void SetCursor(TCursor cursor)
{
    if (cursor == current)
        return;
    if (cursor == TCursor::HourGlass)
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else
        QApplication::restoreOverrideCursor();
    current = cursor;
}

} // namespace Screen
