// Every message box and file dialog of the program goes through TDialogs, so that tests can
// replace the real, blocking dialogs with a scripted fake.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

struct TOpenDialogFilters {
    // "Description (pattern pattern ...)", the first one chosen at opening; patterns match
    // without regard to letter case.
    QStringList filters;
};

class TDialogs {
public:
    virtual ~TDialogs() = default;
    // The error box for an exception that left a handler: the application title, a critical
    // icon, one OK button.
    virtual void ShowError(const QString& message) = 0;
    // The warning dialog with one OK button.
    virtual void ShowWarning(const QString& text) = 0;
    // A plain message box with one OK button, captioned with the application title.
    virtual void ShowMessage(const QString& text) = 0;
    // Runs a file-open dialog over parent's window in initialDir with an empty file name; returns
    // the chosen file's path, or an empty text on cancel.
    virtual QString OpenFile(QWidget* parent, const TOpenDialogFilters& filter, const QString& initialDir) = 0;
};

// The dialogs in use: the real Qt ones unless a test installed its own.
TDialogs& Dialogs();
// Installs dialogs (not owned); nullptr goes back to the real ones.
void SetDialogs(TDialogs* dialogs);
