#include "Application.h"

#include "Forms.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QStyleFactory>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace {
QString& Title()
{
    static QString title = QStringLiteral("Kabinex");
    return title;
}

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

void InitializeToolkit()
{
    // The default fallback (DejaVu Sans) is about a fifth wider and clips fixed-size controls.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("System"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Courier"), QStringLiteral("Liberation Mono"));
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Windows")))
        QApplication::setStyle(style);
    KeepModalWindowsInReach();
}

const QString& ApplicationTitle()
{
    return Title();
}

void SetApplicationTitle(const QString& title)
{
    Title() = title;
    QApplication::setApplicationName(title);
}

void ProcessMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void ProcessMessagesNowAndThen()
{
    // A pump every 10 ms keeps the window live; more often only adds to the loop's time.
    constexpr qint64 interval = 10;
    static QElapsedTimer sinceLastPump;
    if (sinceLastPump.isValid() && sinceLastPump.elapsed() < interval)
        return;
    ProcessMessages();
    sinceLastPump.start();
}
