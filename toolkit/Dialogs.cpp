#include "Dialogs.h"

#include "Application.h"
#include "Modal.h"

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

// A box with one OK button over the window that is in front.
void ShowBox(QMessageBox::Icon icon, const QString& caption, const QString& text)
{
    QWidget* owner = ModalOwner();
    // No parent widget: a child window is kept for its parent alone (see PrepareModal).
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    RunModal(box, owner);
}

class TQtDialogs final : public TDialogs {
public:
    void ShowError(const QString& message) override { ShowBox(QMessageBox::Critical, ApplicationTitle(), message); }

    void ShowWarning(const QString& text) override { ShowBox(QMessageBox::Warning, QObject::tr("Warning"), text); }

    void ShowMessage(const QString& text) override { ShowBox(QMessageBox::NoIcon, ApplicationTitle(), text); }

    QString OpenFile(QWidget* parent, const TOpenDialogFilters& filter, const QString& initialDir) override
    {
        QWidget* owner = parent ? parent->window() : ModalOwner();
        TOpenFileDialog dialog(nullptr, filter, initialDir);
        if (RunModal(dialog, owner) != QDialog::Accepted)
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
