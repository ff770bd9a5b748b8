// The real Qt file-open dialog behind TDialogs, driven with keys as a user drives it.
#include "Dialogs.h"
#include "TempDir.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

const TOpenDialogFilters MaveDialog{QStringList{"MAVE.EXE (mave mave.exe)", "Todos los archivos (*)"}};
const TOpenDialogFilters ZipDialog{QStringList{"Mave Zip Files (*.zip)", "Todos los archivos (*)"}};

QFileDialog* OpenDialog()
{
    return qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
}

// Runs the real dialog; `drive` acts on it once it shows. A dialog still open after the drive
// is cancelled, so a failing test never hangs.
QString RunDialog(const TOpenDialogFilters& fileTypes, const QString& initialDir, std::function<void(QFileDialog&)> drive)
{
    QTimer::singleShot(0, [drive] {
        if (!QTest::qWaitFor([] { return OpenDialog() != nullptr; }, 5000))
            return;
        QFileDialog* dialog = OpenDialog();
        drive(*dialog);
        if (OpenDialog() == dialog)
            dialog->reject();
    });
    return Dialogs().OpenFile(nullptr, fileTypes, initialDir);
}

void TypeAndEnter(QFileDialog& dialog, const QString& text)
{
    auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->clear();
    QTest::keyClicks(name, text);
    QTest::keyClick(name, Qt::Key_Return);
}

// The names the dialog's file list offers (shown and enabled), once its directory is read.
QStringList Offered(QFileDialog& dialog, int expected)
{
    auto* view = dialog.findChild<QAbstractItemView*>("listView");
    QStringList names;
    (void)QTest::qWaitFor([&] {
        names.clear();
        const QModelIndex root = view->rootIndex();
        for (int row = 0; row < view->model()->rowCount(root); ++row) {
            const QModelIndex index = view->model()->index(row, 0, root);
            if (view->model()->flags(index) & Qt::ItemIsEnabled)
                names << index.data().toString();
        }
        return names.size() == expected;
    }, 5000);
    names.sort();
    return names;
}

class OpenDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"MAVE", "Mave.Exe", "readme.txt", "NINJA.ZIP", "kid.zip"})
            dir.Write(name, "x");
    }
    QString Path(const char* name) const { return QString::fromStdString(dir / name); }
    TempDir dir;
};

TEST_F(OpenDialogTest, FiltersMatchInAnyLetterCaseAndAllFilesOffersEverything)
{
    QStringList mave, zips, all;
    RunDialog(MaveDialog, Path(""), [&](QFileDialog& dialog) {
        mave = Offered(dialog, 2);
        dialog.selectNameFilter(MaveDialog.filters.at(1));
        all = Offered(dialog, 5);
    });
    RunDialog(ZipDialog, Path(""), [&](QFileDialog& dialog) { zips = Offered(dialog, 2); });
    EXPECT_EQ(mave, QStringList({"MAVE", "Mave.Exe"}));
    EXPECT_EQ(zips, QStringList({"NINJA.ZIP", "kid.zip"}));
    EXPECT_EQ(all.size(), 5);
}

TEST_F(OpenDialogTest, ATypedFullPathAndEnterPicksThatFile)
{
    EXPECT_EQ(RunDialog(MaveDialog, "/", [&](QFileDialog& d) { TypeAndEnter(d, Path("MAVE")); }), Path("MAVE"));
    EXPECT_EQ(RunDialog(ZipDialog, "/", [&](QFileDialog& d) { TypeAndEnter(d, Path("NINJA.ZIP")); }), Path("NINJA.ZIP"));
    // Any file at all under the all-files filter, a name without a dot included.
    EXPECT_EQ(RunDialog(ZipDialog, "/", [&](QFileDialog& d) {
                  d.selectNameFilter(ZipDialog.filters.at(1));
                  TypeAndEnter(d, Path("MAVE"));
              }),
              Path("MAVE"));
}

TEST_F(OpenDialogTest, OpensInTheGivenDirectoryWithAnEmptyName)
{
    QString shownDir, shownName;
    auto look = [&](QFileDialog& dialog) {
        shownDir = dialog.directory().absolutePath();
        shownName = dialog.findChild<QLineEdit*>("fileNameEdit")->text();
    };
    RunDialog(MaveDialog, QString::fromStdString(dir.Path()), look);
    EXPECT_EQ(shownDir, QString::fromStdString(dir.Path()));
    EXPECT_EQ(shownName, QString());
    // A text that names no directory is never taken as a file name.
    RunDialog(MaveDialog, "<no definido!>", look);
    EXPECT_EQ(shownName, QString());
    EXPECT_EQ(shownDir, QDir::currentPath());
}

} // namespace
