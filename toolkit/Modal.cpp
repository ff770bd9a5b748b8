#include "Modal.h"

#include "Placement.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWindow>
#include <cstring>
#include <memory>
#include <set>
#include <xcb/xcb.h>

namespace {

// The child window a compliant window manager names on the root window, and names again on the
// child itself; a stale property left by a manager that ended names a window that is gone.
bool SupportingWindowManagerOnX11(xcb_connection_t* connection)
{
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, std::strlen(name), name), nullptr), &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    auto checkWindow = [&](xcb_window_t window) -> xcb_window_t {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
            xcb_get_property_reply(connection,
                                   xcb_get_property(connection, 0, window, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr),
            &std::free);
        if (!reply || reply->type != XCB_ATOM_WINDOW || xcb_get_property_value_length(reply.get()) < 4)
            return XCB_WINDOW_NONE;
        return *static_cast<xcb_window_t*>(xcb_get_property_value(reply.get()));
    };
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (screen == nullptr)
        return false;
    const xcb_window_t child = checkWindow(screen->root);
    return child != XCB_WINDOW_NONE && checkWindow(child) == child;
}

QPointer<QWidget>& MainWindow()
{
    static QPointer<QWidget> mainWindow;
    return mainWindow;
}

// Qt drops the focus that reaches a window blocked by a modal window, so it is watched before Qt
// sees it: the window manager handing the focus to such a window, as it does when the user clicks
// or activates it (and, with openbox, as soon as the modal window is minimised), brings a modal
// window that the window manager took off the screen back, with the focus. Which windows are off
// the screen is read from the same event stream, so it is always in step with the focus events.
class TModalKeeper final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        switch (event->response_type & 0x7f) {
        case XCB_UNMAP_NOTIFY: unmapped_.insert(reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window); break;
        case XCB_MAP_NOTIFY: unmapped_.erase(reinterpret_cast<const xcb_map_notify_event_t*>(event)->window); break;
        case XCB_DESTROY_NOTIFY: unmapped_.erase(reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window); break;
        case XCB_FOCUS_IN: {
            const auto* focusIn = reinterpret_cast<const xcb_focus_in_event_t*>(event);
            if (focusIn->detail != XCB_NOTIFY_DETAIL_POINTER)
                FocusCameTo(focusIn->event);
            break;
        }
        default: break;
        }
        return false;
    }

private:
    void FocusCameTo(xcb_window_t window)
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal->windowHandle() == nullptr)
            return;
        const xcb_window_t modalWindow = modal->windowHandle()->winId();
        if (window == modalWindow || !unmapped_.contains(modalWindow))
            return;
        // Mapping a minimised window is how a client restores it; Qt would do the same, but its idea
        // of the window's state may lag behind the events read here.
        if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>(); x11 && x11->connection()) {
            xcb_map_window(x11->connection(), modalWindow);
            xcb_flush(x11->connection());
        }
        QTimer::singleShot(0, modal, [modal] {
            modal->raise();
            modal->activateWindow();
        });
    }

    std::set<xcb_window_t> unmapped_;
};

} // namespace

bool WindowManagerPresent()
{
    // The offscreen platform answers for X11 too, without a connection.
    if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>(); x11 && x11->connection())
        return SupportingWindowManagerOnX11(x11->connection());
    // The offscreen and minimal platforms have no window manager; every other one has its own.
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void SetModalMainWindow(QWidget* window)
{
    MainWindow() = window;
}

void KeepModalWindowsInReach()
{
    static TModalKeeper keeper;
    QCoreApplication::instance()->installNativeEventFilter(&keeper);
}

QWidget* ModalOwner()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    // While the main window is being closed and destroyed, nothing of it is on screen to own a window.
    if (MainWindow() && MainWindow()->isVisible())
        return MainWindow();
    return QApplication::activeWindow();
}

void PrepareModal(QWidget* window, QWidget* owner)
{
    const Qt::WindowFlags flags = window->windowFlags();
    if (flags & Qt::WindowMinimizeButtonHint)
        window->setWindowFlags(flags & ~Qt::WindowMinimizeButtonHint);
    // Only without a window manager does the owner place the window (Qt centres it over the owner).
    // A window manager such as openbox minimises a window together with the windows kept for it,
    // and would take the main window away with a minimised dialog; kept for the whole program
    // instead, as Qt does by default, a dialog goes alone and the main window stays to be clicked.
    if (owner == nullptr || owner == window || WindowManagerPresent())
        return;
    window->winId();
    window->windowHandle()->setTransientParent(owner->windowHandle());
}

void ReturnFocusFrom(QWidget* window)
{
    if (WindowManagerPresent())
        return;
    QWidget* owner = ModalOwner();
    if (owner != nullptr && owner != window && owner->isVisible())
        owner->activateWindow();
}

int RunModal(QDialog& dialog, QWidget* owner)
{
    PrepareModal(&dialog, owner);
    KeepFrameOnScreen(&dialog);
    const bool giveFocus = !WindowManagerPresent();
    if (giveFocus)
        QTimer::singleShot(0, &dialog, [&dialog] { dialog.activateWindow(); });
    const QPointer<QWidget> returnTo = owner;
    const int result = dialog.exec();
    if (giveFocus && returnTo && returnTo->isVisible())
        returnTo->activateWindow();
    return result;
}

