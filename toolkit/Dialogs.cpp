#include "Dialogs.h"

#include "Application.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

// Qt's own dialog: the system's may not offer a typed path the same way. No default suffix: Qt
// adds it to every typed name without a dot, and "mave" would become a "mave.exe" that is not
// there.
class TOpenFileDialog final : public QFileDialog {
public:
    TOpenFileDialog(QWidget* parent, const TOpenDialogFilters& fileTypes, const QString& initialDir)
        : QFileDialog(parent)
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFile);
        setAcceptMode(QFileDialog::AcceptOpen);
        setFilter(filter() & ~QDir::CaseSensitive);
        setNameFilters(fileTypes.filters);
        // A directory that does not exist would otherwise be taken as a file name to preselect.
        setDirectory(QFileInfo(initialDir).isDir() ? initialDir : QDir::currentPath());
    }

    QString Chosen() const { return typedFile_.isEmpty() ? selectedFiles().value(0) : typedFile_; }

    // A full path typed or pasted faster than the dialog reads directories leaves every
    // directory met on the way selected along with the file, and Qt would open the first of
    // them instead of taking the file. In a one-file dialog the last one selected is the choice.
    void accept() override
    {
        const QStringList selected = selectedFiles();
        if (selected.size() > 1 && QFileInfo(selected.constLast()).isFile()) {
            typedFile_ = selected.constLast();
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }

private:
    QString typedFile_;
};

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

    QString OpenFile(QWidget* parent, const TOpenDialogFilters& filter, const QString& initialDir) override
    {
        TOpenFileDialog dialog(parent, filter, initialDir);
        if (dialog.exec() != QDialog::Accepted)
            return {};
        return dialog.Chosen();
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
