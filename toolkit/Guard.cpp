#include "Guard.h"

#include <QString>

QString ErrorBoxText(const char* message)
{
    QString text = QString::fromUtf8(message);
    if (!text.isEmpty() && text.back() > QLatin1Char('.'))
        text += QLatin1Char('.');
    return text;
}

void ShowException(const std::exception& error)
{
    Dialogs().ShowError(ErrorBoxText(error.what()));
}
