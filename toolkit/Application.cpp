#include "Application.h"

#include "Modal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QStyleFactory>

namespace {
QString& Title()
{
    static QString title = QStringLiteral("Kabinex");
    return title;
}

} // namespace

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
