// Forms built from control tables: the focus chain, the handler guard, activation, fonts.
#include "Forms.h"
#include "Guard.h"
#include "ScriptedDialogs.h"
#include "SysUtils.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

constexpr TFontFace Font{"MS Sans Serif", -11, true, clRed};
constexpr TFormDescription Window{"Test", 200, 100, clBlack, Font, TBorderIcons::SystemMenu};

using K = TControlKind;
const TControlRow Controls[] = {
    {"Second", K::Button, {0, 0, 10, 10}, "2", nullptr, 2},
    {"Group", K::GroupBox, {0, 20, 50, 50}, "G", nullptr, 1},
    {"Inner1", K::CheckBox, {0, 0, 10, 10}, "i1", nullptr, 1, "Group"},
    {"Inner0", K::CheckBox, {0, 10, 10, 10}, "i0", nullptr, 0, "Group"},
    {"First", K::Button, {20, 0, 10, 10}, "1", "hint", 0},
    {"Label", K::Label, {40, 0, 10, 10}, "L"},
};

TEST(FormsTest, FocusFollowsTheTabOrderWithinEachParent)
{
    TForm form(Window);
    form.BuildControls(Controls);
    form.show();
    QStringList chain;
    QWidget* widget = form.Control<QWidget>("First");
    for (int i = 0; i < 5; ++i) {
        chain << widget->objectName();
        widget = widget->nextInFocusChain();
        while (widget->focusPolicy() == Qt::NoFocus || widget == &form)
            widget = widget->nextInFocusChain();
    }
    EXPECT_EQ(chain, QStringList({"First", "Inner0", "Inner1", "Second", "First"}));
    EXPECT_EQ(form.Control<QPushButton>("First")->toolTip(), "hint");
    EXPECT_EQ(form.Control<QCheckBox>("Inner1")->parentWidget(), form.Control<QGroupBox>("Group"));
}

TEST(FormsTest, WindowsFacesAreMappedToMetricCompatibleFonts)
{
    EXPECT_EQ(QFontInfo(MakeFont(Font)).family(), "Liberation Sans");
    EXPECT_EQ(QFontInfo(MakeFont({"Courier", -11, false, clRed})).family(), "Liberation Mono");
    EXPECT_EQ(QFontInfo(MakeFont(Font)).pixelSize(), 11);
}

TEST(FormsTest, GuardShowsTheMessageWithAFullStopAndGoesOn)
{
    ScriptedDialogs dialogs;
    Guarded([] { throw Exception("nach /x kann nicht geschrieben werden"); });
    Guarded([] { throw EInOutError(2); });
    Guarded([] { throw Exception("Fertig!"); });
    Guarded([] { throw Exception("Ende."); });
    Guarded([] {});
    EXPECT_EQ(dialogs.errors, QStringList({"nach /x kann nicht geschrieben werden.", "Datei nicht gefunden.", "Fertig!",
                                           "Ende."}));
}

TEST(FormsTest, ActivationAtFirstShowingAndWhenAnotherOwnWindowCloses)
{
    TForm main(Window);
    TForm other(Window);
    int activations = 0;
    main.SetOnActivate([&] { ++activations; });
    main.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return activations == 1; }));
    QTest::qWait(50);
    EXPECT_EQ(activations, 1);

    QTimer::singleShot(100, &other, [&] { other.close(); });
    other.ShowModal();
    main.activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return activations == 2; }));
}

} // namespace
