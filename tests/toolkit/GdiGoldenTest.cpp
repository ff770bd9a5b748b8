// Every case that the Win32 GDI drew for gdi.golden.txt, drawn again on the canvas from the case's
// own description of its GDI calls, must give the same pixels.
#include "gdi/GdiGolden.h"

#include <QFont>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

namespace {

constexpr TColor kRed = 0x0000FF;
constexpr TColor kGreen = 0x00FF00;

std::vector<int> Numbers(const std::string& text)
{
    std::vector<int> numbers;
    const std::regex number("-?[0-9]+");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), number); it != std::sregex_iterator(); ++it)
        numbers.push_back(std::stoi(it->str()));
    return numbers;
}

void UseTools(TCanvas& canvas, const std::string& what)
{
    canvas.Pen.Color = kRed;
    canvas.Pen.Style = what.find("NULL_PEN") != std::string::npos ? psClear : psSolid;
    canvas.Brush.Color = kGreen;
    canvas.Brush.Style = what.find("NULL_BRUSH") != std::string::npos ? bsClear : bsSolid;
}

// Draws a case from its description; false when the description names no call the canvas has.
bool Draw(TBitmap& picture, const gdi::Case& c)
{
    TCanvas& canvas = picture.Canvas();
    const std::string& what = c.what;
    const std::string call = what.substr(0, what.find_first_of("({ "));
    const std::string arguments = what.substr(0, what.find(')') + 1);
    if (call == "FillRect") {
        const std::vector<int> n = Numbers(what.substr(0, what.find('}')));
        canvas.Brush.Color = clWhite;
        canvas.FillRect(Rect(n[0], n[1], n[2], n[3]));
    } else if (call == "Ellipse") {
        const std::vector<int> n = Numbers(arguments);
        UseTools(canvas, what);
        canvas.Ellipse(n[0], n[1], n[2], n[3]);
    } else if (call == "Pie") {
        const std::vector<int> n = Numbers(arguments);
        UseTools(canvas, what);
        canvas.Pie(n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]);
    } else if (call == "MoveToEx/LineTo") {
        // "(x0,y0)-(x1,y1)" segments after the colon, each a MoveTo and a LineTo.
        const std::vector<int> n = Numbers(what.substr(what.find(':')));
        UseTools(canvas, what);
        for (std::size_t i = 0; i + 3 < n.size(); i += 4) {
            canvas.MoveTo(n[i], n[i + 1]);
            canvas.LineTo(n[i + 2], n[i + 3]);
        }
    } else {
        return false;
    }
    return true;
}

const std::vector<gdi::Case>& Cases()
{
    static const std::vector<gdi::Case> cases = gdi::ReadCases();
    return cases;
}

} // namespace

TEST(GdiGoldenTest, EveryShapeCaseMatchesGdiPixelForPixel)
{
    // Drawn elsewhere (the text, the block transfers, the gauge) or not a canvas call (Rectangle).
    const std::regex elsewhere("text_.*|srcinvert.*|blackness_.*|gauge_.*|rectangle.*");
    int drawn = 0;
    for (const gdi::Case& c : Cases()) {
        if (std::regex_match(c.name, elsewhere))
            continue;
        TBitmap picture(c.width, c.height);
        ASSERT_TRUE(Draw(picture, c)) << c.name << ": no canvas call for \"" << c.what << "\"";
        EXPECT_TRUE(gdi::Matches(picture, c));
        ++drawn;
    }
    EXPECT_GE(drawn, 30); // the golden file was found and read
}

TEST(GdiGoldenTest, LinesLeaveThePenAtTheirLastEndPoint)
{
    const gdi::Case* lines = gdi::Find(Cases(), "lines");
    ASSERT_NE(lines, nullptr);
    TBitmap picture(lines->width, lines->height);
    ASSERT_TRUE(Draw(picture, *lines));
    int x = 0, y = 0;
    ASSERT_EQ(lines->notes.size(), 1u);
    ASSERT_EQ(std::sscanf(lines->notes[0].c_str(), "current position after last LineTo: (%d,%d)", &x, &y), 2);
    EXPECT_EQ(picture.Canvas().PenPos().X, x);
    EXPECT_EQ(picture.Canvas().PenPos().Y, y);
}

TEST(GdiGoldenTest, BlockTransfersMatchGdi)
{
    const gdi::Case* blackness = gdi::Find(Cases(), "blackness_100x100");
    const gdi::Case* invert = gdi::Find(Cases(), "srcinvert");
    const gdi::Case* offset = gdi::Find(Cases(), "srcinvert_offset");
    ASSERT_TRUE(blackness && invert && offset);

    TBitmap garbage(100, 100);
    garbage.Canvas().Brush.Color = 0x5A5A5A;
    garbage.Canvas().FillRect(Rect(0, 0, 100, 100));
    garbage.Canvas().CopyMode = cmBlackness;
    garbage.Canvas().CopyRect(Rect(0, 0, 100, 100), garbage.Canvas(), Rect(0, 0, 100, 100));
    EXPECT_TRUE(gdi::Matches(garbage, *blackness));

    TBitmap a(100, 100), b(100, 100);
    a.Canvas().Brush.Color = 0x330FF0; // F00F33 as RRGGBB
    a.Canvas().FillRect(Rect(10, 10, 30, 20));
    b.Canvas().Brush.Color = 0x55FF0F;
    b.Canvas().FillRect(Rect(20, 14, 40, 24));
    const QImage before = a.Image().copy();
    a.Canvas().CopyMode = cmSrcInvert;
    a.Canvas().CopyRect(Rect(0, 0, 100, 100), b.Canvas(), Rect(0, 0, 100, 100));
    EXPECT_TRUE(gdi::Matches(a, *invert));
    a.Canvas().CopyRect(Rect(0, 0, 100, 100), b.Canvas(), Rect(0, 0, 100, 100));
    EXPECT_EQ(a.Image(), before); // the oracle: "second identical SRCINVERT restores A: yes"
    a.Canvas().CopyRect(Rect(5, 5, 25, 25), b.Canvas(), Rect(15, 10, 35, 30));
    EXPECT_TRUE(gdi::Matches(a, *offset));
}

// Glyphs come from whatever font each side found, so only where the text lands, what the clip cuts
// and that nothing but glyph pixels change are compared.
TEST(GdiGoldenTest, TextLandsAndClipsWhereGdiPutsIt)
{
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    for (const char* name : {"text_42pct", "text_42pct_clipped"}) {
        const gdi::Case* c = gdi::Find(Cases(), name);
        ASSERT_NE(c, nullptr);
        const std::vector<int> clip = Numbers(c->what.substr(c->what.find("clip")));
        TBitmap picture(c->width, c->height);
        TCanvas& canvas = picture.Canvas();
        canvas.Brush.Style = bsClear;
        canvas.Font = TFont("MS Sans Serif", -11, clWhite);
        canvas.TextRect(Rect(clip[0], clip[1], clip[2], clip[3]), 20, 20, "42%");

        TRect box{c->width, c->height, -1, -1};
        for (int y = 0; y < c->height; ++y)
            for (int x = 0; x < c->width; ++x) {
                const TColor pixel = canvas.Pixel(x, y);
                if (pixel == clBlack)
                    continue;
                ASSERT_EQ(pixel, clWhite) << name << " " << x << "," << y; // transparent, unblended
                box = TRect{std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x), std::max(box.Bottom, y)};
            }
        SCOPED_TRACE(name);
        EXPECT_GE(box.Left, clip[0]);
        EXPECT_GE(box.Top, clip[1]);
        EXPECT_LT(box.Right, clip[2]);
        EXPECT_LT(box.Bottom, clip[3]);
        // Within a pixel or two of GDI's glyph box (the fonts differ slightly).
        EXPECT_NEAR(box.Left, c->box.Left, 2);
        EXPECT_NEAR(box.Top, c->box.Top, 2);
        EXPECT_NEAR(box.Right, c->box.Right, 2);
        EXPECT_NEAR(box.Bottom, c->box.Bottom, 2);
    }
}
