// The needle and pie gauges, rendered without their text, equal the same drawing steps done
// through the Win32 GDI (the gauge_* cases of the GDI golden file), at every size, frame and
// percentage there.
#include "../toolkit/gdi/GdiGolden.h"
#include "Gauges.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

TEST(GaugeGoldenTest, NeedleAndPieMatchGdiPixelForPixel)
{
    int checked = 0;
    for (const gdi::Case& c : gdi::ReadCases()) {
        char kind[16], frame[16];
        int width, height, percent;
        if (std::sscanf(c.name.c_str(), "gauge_%15[a-z]_%dx%d_%15[a-z]_%d", kind, &width, &height, frame, &percent) != 5)
            continue;
        const bool needle = std::strcmp(kind, "needle") == 0;
        TGauge gauge;
        gauge.resize(width, height);
        gauge.SetKind(needle ? gkNeedle : gkPie);
        gauge.SetShowText(false);
        gauge.SetBorderStyle(std::strcmp(frame, "frame") == 0 ? TGaugeBorderStyle::bsSingle : TGaugeBorderStyle::bsNone);
        gauge.SetForeColor(needle ? clBlue : clRed);
        gauge.SetBackColor(clWhite);
        gauge.SetColor(0xC0C0C0);
        gauge.SetProgress(percent);
        TBitmap picture = gauge.Render();
        EXPECT_TRUE(gdi::Matches(picture, c)) << c.what;
        ++checked;
    }
    EXPECT_GE(checked, 60); // every size, frame and percentage of the golden file
}
