#include "FmProgr.h"
#include "progress.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

class ProgressWindowTest : public ::testing::Test {
protected:
    void SetUp() override { CreateProgressForm(); }
    void TearDown() override { DestroyProgressForm(); }

    static void Report(float fraction)
    {
        ASSERT_NE(ProgressHook, nullptr);
        ProgressHook(fraction);
    }
};

} // namespace

TEST_F(ProgressWindowTest, StartsHiddenWithTheHookInstalled)
{
    ASSERT_NE(ProgressForm, nullptr);
    EXPECT_FALSE(ProgressForm->isVisible());
    EXPECT_EQ(ProgressHook, &ProgressToWindow);
    EXPECT_EQ(ProgressForm->parent(), nullptr);
    EXPECT_EQ(ProgressForm->objectName(), "ProgressForm");
    EXPECT_EQ(ProgressForm->windowTitle(), "Progress");
    EXPECT_EQ(ProgressForm->size(), QSize(267, 130));

    TGauge* gauge = ProgressForm->Gauge1;
    EXPECT_EQ(gauge->objectName(), "Gauge1");
    EXPECT_EQ(gauge->Kind(), gkNeedle);
    EXPECT_EQ(gauge->ForeColor(), clBlue);
    EXPECT_EQ(gauge->Progress(), 0);
    EXPECT_EQ(gauge->MaxValue(), 100);
    EXPECT_EQ(gauge->Color(), clBtnFace); // the window's colour outside the dial
    EXPECT_EQ(gauge->Font().Name, "System");
    EXPECT_EQ(gauge->Font().Height, -14);
}

TEST_F(ProgressWindowTest, ZeroShowsTheWindowAtItsPlaceWithoutNeedle)
{
    Report(0);
    EXPECT_TRUE(ProgressForm->isVisible());
    EXPECT_EQ(ProgressForm->pos(), QPoint(11, 8));
    EXPECT_EQ(ProgressForm->Gauge1->PercentComplete(), 0);
    EXPECT_EQ(ProgressForm->Gauge1->geometry(), ProgressForm->rect());
    TBitmap picture = ProgressForm->Gauge1->Render();
    EXPECT_EQ(picture.Canvas().Pixel(133, 20), clWhite); // above the pivot: only the dial

    Report(0.5f);
    picture = ProgressForm->Gauge1->Render();
    EXPECT_EQ(picture.Canvas().Pixel(133, 20), clBlue); // the needle points straight up
}

TEST_F(ProgressWindowTest, FractionsRoundHalvesToEven)
{
    Report(0.125f);
    EXPECT_EQ(ProgressForm->Gauge1->Progress(), 12);
    Report(0.375f);
    EXPECT_EQ(ProgressForm->Gauge1->Progress(), 38);
    Report(-0.3f);
    EXPECT_TRUE(ProgressForm->isVisible());
    EXPECT_EQ(ProgressForm->Gauge1->Progress(), 0);
    Report(0.995f);
    EXPECT_EQ(ProgressForm->Gauge1->Progress(), 100);
}

TEST_F(ProgressWindowTest, TheThresholdLiesAboveTheSinglePrecisionNearestValue)
{
    const float nearest = 0.9999f;
    Report(nearest);
    EXPECT_TRUE(ProgressForm->isVisible());
    EXPECT_EQ(ProgressForm->Gauge1->Progress(), 100);

    Report(std::nextafter(nearest, 2.0f));
    EXPECT_FALSE(ProgressForm->isVisible());
    Report(0.6f);
    Report(1);
    EXPECT_FALSE(ProgressForm->isVisible());
    EXPECT_EQ(ProgressForm->Gauge1->Progress(), 60); // the gauge keeps its last value

    Report(1.5f); // while hidden: stays hidden, gauge unchanged
    EXPECT_FALSE(ProgressForm->isVisible());
    EXPECT_EQ(ProgressForm->Gauge1->Progress(), 60);

    Report(0.2f);
    EXPECT_TRUE(ProgressForm->isVisible());
    EXPECT_EQ(ProgressForm->Gauge1->Progress(), 20);
}

TEST_F(ProgressWindowTest, NotANumberHidesAndExtremesDoNotOverflow)
{
    Report(0.3f);
    Report(std::numeric_limits<float>::quiet_NaN());
    EXPECT_FALSE(ProgressForm->isVisible());
    EXPECT_EQ(ProgressForm->Gauge1->Progress(), 30);

    Report(-std::numeric_limits<float>::infinity());
    EXPECT_TRUE(ProgressForm->isVisible());
    EXPECT_EQ(ProgressForm->Gauge1->Progress(), 0);
    Report(-1e30f);
    EXPECT_EQ(ProgressForm->Gauge1->Progress(), 0);
    Report(std::numeric_limits<float>::infinity());
    EXPECT_FALSE(ProgressForm->isVisible());
}

TEST_F(ProgressWindowTest, ClosingHidesAndTheNextReportShowsAgain)
{
    Report(0.1f);
    ProgressForm->close();
    EXPECT_FALSE(ProgressForm->isVisible());
    Report(0.4f);
    EXPECT_TRUE(ProgressForm->isVisible());
    EXPECT_EQ(ProgressForm->Gauge1->Progress(), 40);
}

TEST_F(ProgressWindowTest, TheGaugeFollowsTheWindowsSize)
{
    Report(0.1f);
    ProgressForm->resize(400, 220);
    QApplication::processEvents();
    EXPECT_EQ(ProgressForm->Gauge1->geometry(), QRect(0, 0, 400, 220));
}

TEST_F(ProgressWindowTest, AWaitingClickIsHandledBeforeTheReportReturns)
{
    QPushButton button(QStringLiteral("Ejecute!"));
    button.resize(80, 30);
    button.show();
    QApplication::processEvents();
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&clicks] { ++clicks; });

    const QPointF inside(10, 10);
    const QPointF global = button.mapToGlobal(inside);
    QCoreApplication::postEvent(&button,
        new QMouseEvent(QEvent::MouseButtonPress, inside, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(&button,
        new QMouseEvent(QEvent::MouseButtonRelease, inside, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    ASSERT_EQ(clicks, 0);
    Report(0.5f);
    EXPECT_EQ(clicks, 1);
}
