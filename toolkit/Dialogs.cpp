#include "Dialogs.h"

#include "Application.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

class TQtDialogs final : public TDialogs {
public:
    void ShowError(const QString& message) override
    {
        QMessageBox::critical(nullptr, ApplicationTitle(), message);
    }

    void ShowWarning(const QString& text) override
    {
        QMessageBox box(QMessageBox::Warning, QObject::tr("Warning"), text, QMessageBox::Ok);
        box.exec();
    }

    void ShowMessage(const QString& text) override
    {
        QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok);
        box.exec();
    }

    QString OpenFile(QWidget* parent, const TOpenDialogSpec& filter, const QString& initialDir) override
    {
        QFileDialog dialog(parent, QString(), initialDir);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setDefaultSuffix(filter.defaultExtension);
        dialog.setNameFilter(filter.filterDescription + QStringLiteral(" (") + filter.filterPattern + QLatin1Char(')'));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }
};

TDialogs* installed = nullptr;

} // namespace

TDialogs& Dialogs()
{
    static TQtDialogs real;
    return installed ? *installed : real;
}

void SetDialogs(TDialogs* dialogs)
{
    installed = dialogs;
}
