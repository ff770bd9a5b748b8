#include "Placement.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace {

// Watches the window and its native window: the frame is known once the window is on the screen,
// which the native window's first exposure after a show tells.
class TFrameKeeper final : public QObject {
    Q_OBJECT
public:
    explicit TFrameKeeper(QWidget* window)
        : QObject(window)
        , window_(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == window_ && event->type() == QEvent::Show) {
            pending_ = true;
            if (QWindow* handle = window_->windowHandle(); handle != nullptr && handle != watchedHandle_) {
                handle->installEventFilter(this);
                watchedHandle_ = handle;
            }
        } else if (pending_ && watched == watchedHandle_ && event->type() == QEvent::Expose
                   && watchedHandle_->isExposed()) {
            pending_ = false;
            MoveFrameOnScreen();
        }
        return false;
    }

private:
    void MoveFrameOnScreen()
    {
        const QScreen* screen = window_->screen();
        if (screen == nullptr)
            return;
        const QRect area = screen->availableGeometry();
        const QRect frame = window_->frameGeometry();
        if (frame.width() > area.width() || frame.height() > area.height() || area.contains(frame))
            return;
        const int left = std::clamp(frame.left(), area.left(), area.right() + 1 - frame.width());
        const int top = std::clamp(frame.top(), area.top(), area.bottom() + 1 - frame.height());
        // A window's position is that of its frame.
        window_->move(left, top);
    }

    QWidget* window_;
    QWindow* watchedHandle_ = nullptr;
    bool pending_ = false;
};

} // namespace

void KeepFrameOnScreen(QWidget* window)
{
    if (window->findChild<TFrameKeeper*>(QString(), Qt::FindDirectChildrenOnly) == nullptr)
        new TFrameKeeper(window);
}

#include "Placement.moc"
