// Windows shown partly off the screen come back onto it whole, wherever they would fit; a window
// bigger than the screen, or already on it, stays where it was put (the offscreen platform draws no
// frame, as a bare X server).
#include "Forms.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr TFontFace Font{"MS Sans Serif", -11, false, clBlack};

TEST(PlacementTest, AWindowShownOffTheScreenComesOnItWholeWhereItFits)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    // moved: where the frame must go, given its size; nullopt: it stays where it was put.
    using Place = QPoint (*)(const QRect& area, QSize frame);
    struct Case {
        const char* what;
        QSize size;
        QPoint placed;
        Place moved;
    };
    const Case cases[] = {
        {"above the screen", {200, 100}, {40, area.top() - 20}, [](const QRect& a, QSize) { return QPoint(40, a.top()); }},
        {"left of the screen", {200, 100}, {area.left() - 30, 50}, [](const QRect& a, QSize) { return QPoint(a.left(), 50); }},
        {"past the bottom right", {200, 100}, {area.right() - 50, area.bottom() - 10},
         [](const QRect& a, QSize f) { return QPoint(a.right() + 1 - f.width(), a.bottom() + 1 - f.height()); }},
        {"on the screen", {200, 100}, {60, 70}, nullptr},
        {"taller than the screen", {200, area.height() + 40}, {10, area.top() - 20}, nullptr},
    };
    for (const Case& c : cases) {
        const TFormDescription description{"Placed", c.size.width(), c.size.height(), clBlack, Font, TBorderIcons::None};
        TForm form(description);
        form.move(c.placed);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form)) << c.what;
        QCoreApplication::processEvents();
        const QRect frame = form.frameGeometry();
        EXPECT_EQ(frame.topLeft(), c.moved ? c.moved(area, frame.size()) : c.placed) << c.what;
    }
}

} // namespace
