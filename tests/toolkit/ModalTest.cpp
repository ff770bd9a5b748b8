// Modal windows on a display without a window manager (the offscreen platform has none): they
// take the focus, give it back to their owner, and cannot be minimised; keys that come during an
// activation reach the control it gives the focus to.
#include "Application.h"
#include "Forms.h"
#include "Modal.h"

#include <QApplication>
#include <QFileDialog>
#include <QListWidget>
#include <QPushButton>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

constexpr TFontFace Font{"MS Sans Serif", -11, true, clRed};
constexpr TFormDescription MainDescription{"Main", 200, 100, clBlack, Font, TBorderIcons::SystemMenu};
constexpr TFormDescription BoxDescription{"Box", 100, 50, clBlack, Font, TBorderIcons::All};

class ModalTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(WindowManagerPresent());
        main.SetMainWindow();
        main.SetOnActivate([this] { ++activations; });
        main.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
        ASSERT_TRUE(QTest::qWaitFor([this] { return activations == 1; }));
    }

    // Runs dialog modally over the main window; while it runs, records whether it had the focus,
    // then closes it.
    void RunAndClose(QDialog& dialog)
    {
        QTimer::singleShot(0, &dialog, [&] {
            focusedWhileOpen = QTest::qWaitFor([&] { return QApplication::activeWindow() == &dialog; });
            dialog.reject();
        });
        EXPECT_EQ(ModalOwner(), &main);
        RunModal(dialog, ModalOwner());
    }

    TForm main{MainDescription};
    int activations = 0;
    bool focusedWhileOpen = false;
};

TEST_F(ModalTest, FocusComesBackAfterEachKindOfWindowButActivatesOnlyAfterFormsAndFileDialogs)
{
    TForm box(BoxDescription);
    RunAndClose(box);
    EXPECT_TRUE(focusedWhileOpen) << "the form";
    EXPECT_FALSE(box.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(QTest::qWaitFor([&] { return activations == 2; })) << "after the form";

    QMessageBox message(QMessageBox::NoIcon, "Kabinex", "Mensaje", QMessageBox::Ok);
    RunAndClose(message);
    EXPECT_TRUE(focusedWhileOpen) << "the message box";
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &main; })) << "after the message box";

    auto* files = new QFileDialog;
    files->setOption(QFileDialog::DontUseNativeDialog);
    RunAndClose(*files);
    EXPECT_TRUE(focusedWhileOpen) << "the file dialog";
    // The dialog is gone before the focus comes back, as in the program.
    delete files;
    EXPECT_TRUE(QTest::qWaitFor([&] { return activations == 3; })) << "after the file dialog";
    EXPECT_EQ(QApplication::activeWindow(), &main);
    QTest::qWait(50);
    EXPECT_EQ(activations, 3);
}

const TControlRow ListAndButton[] = {
    {"List", TControlKind::ListBox, {0, 0, 100, 80}, nullptr, nullptr, 0},
    {"Button", TControlKind::Button, {110, 0, 50, 20}, "B", nullptr, 1},
};

TEST(ActivationKeysTest, KeysDuringAnActivationGoToTheControlItFocusesAndAnErrorBoxStillGetsItsKeys)
{
    TForm form(MainDescription);
    form.BuildControls(ListAndButton);
    auto* list = form.Control<QListWidget>("List");
    auto* button = form.Control<QPushButton>("Button");
    list->addItems({"a", "b", "c"});
    list->setCurrentRow(0);
    int activations = 0;
    bool boxClosedByKey = false;
    form.SetOnActivate([&] {
        ++activations;
        // The key comes while the handler dispatches waiting events, before it moves the focus.
        QTest::keyClick(form.windowHandle(), Qt::Key_Down);
        ProcessMessages();
        if (activations == 2) {
            QMessageBox box(QMessageBox::Critical, "Kabinex", "Fehler.", QMessageBox::Ok);
            QTimer::singleShot(0, &box, [&] {
                if (QTest::qWaitForWindowExposed(&box))
                    QTest::keyClick(box.windowHandle(), Qt::Key_Escape);
            });
            // A hang guard: a box that never gets its key is closed without the OK result.
            QTimer::singleShot(10000, &box, &QDialog::reject);
            boxClosedByKey = RunModal(box, &form) == QMessageBox::Ok;
        }
        list->setFocus();
    });
    form.show();
    button->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return activations == 1; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->currentRow() == 1; })) << "the Down went to the button";

    TForm other(BoxDescription);
    QTimer::singleShot(0, &other, [&] { other.close(); });
    button->setFocus();
    other.ShowModal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return activations == 2; }));
    EXPECT_TRUE(boxClosedByKey);
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->currentRow() == 2; }));
}

} // namespace
