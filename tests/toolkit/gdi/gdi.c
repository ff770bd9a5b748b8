/* gdi.c - draw a fixed set of GDI cases on 32-bit memory DIB sections (as Wine
 * implements GDI), write one PPM per case and print a compact text form.
 *
 * Build: x86_64-w64-mingw32-gcc -O1 -Wall -o gdi.exe gdi.c -lgdi32
 * Run:   wine gdi.exe OUT_DIR_WINDOWS_PATH > golden.txt
 *
 * Text form per case: the bounding box of non-black pixels (right/bottom
 * inclusive), a colour histogram with one letter per colour, an FNV-1a hash of
 * the RGB pixels, and, when the box is at most 40 rows high (any height for the
 * gauge cases), each row as runs "x0-x1C" (inclusive, black omitted). Text cases print grey levels instead:
 * one hex digit per pixel (max channel >> 4), '.' for black.
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <fcntl.h>
#include <io.h>
#include <math.h>

#define RED   RGB(255, 0, 0)
#define GREEN RGB(0, 255, 0)
#define WHITE RGB(255, 255, 255)
#define BLUE  RGB(0, 0, 255)
#define GREY  RGB(0xC0, 0xC0, 0xC0)

typedef struct {
    HDC dc;
    HBITMAP bmp, old;
    BYTE *bits;   /* top-down BGRX */
    int w, h;
} Surface;

static char out_dir[MAX_PATH];
static int row_limit = 40;   /* taller boxes print three rows only */

static void surface_make(Surface *s, int w, int h)
{
    BITMAPINFO bi;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    s->w = w;
    s->h = h;
    s->dc = CreateCompatibleDC(NULL);
    s->bmp = CreateDIBSection(s->dc, &bi, DIB_RGB_COLORS, (void **)&s->bits, NULL, 0);
    s->old = SelectObject(s->dc, s->bmp);
    memset(s->bits, 0x5A, (size_t)w * h * 4);   /* garbage that BLACKNESS must clear */
    BitBlt(s->dc, 0, 0, w, h, s->dc, 0, 0, BLACKNESS);
}

static void surface_free(Surface *s)
{
    SelectObject(s->dc, s->old);
    DeleteObject(s->bmp);
    DeleteDC(s->dc);
}

static COLORREF pixel(const Surface *s, int x, int y)
{
    const BYTE *p = s->bits + ((size_t)y * s->w + x) * 4;
    return RGB(p[2], p[1], p[0]);
}

static void fill(Surface *s, int l, int t, int r, int b, COLORREF c)
{
    RECT rc = { l, t, r, b };
    HBRUSH br = CreateSolidBrush(c);
    FillRect(s->dc, &rc, br);
    DeleteObject(br);
}

/* Select a 1-pixel solid pen (or NULL_PEN when pen < 0) and a solid brush
 * (or NULL_BRUSH when brush < 0); returns nothing, objects leak per case. */
static void tools(Surface *s, long pen, long brush)
{
    SelectObject(s->dc, pen < 0 ? GetStockObject(NULL_PEN)
                                : CreatePen(PS_SOLID, 1, (COLORREF)pen));
    SelectObject(s->dc, brush < 0 ? GetStockObject(NULL_BRUSH)
                                  : CreateSolidBrush((COLORREF)brush));
}

static unsigned hash_pixels(const Surface *s)
{
    unsigned h = 2166136261u;
    int i;
    for (i = 0; i < s->w * s->h; i++) {
        int k;
        for (k = 2; k >= 0; k--) h = (h ^ s->bits[i * 4 + k]) * 16777619u;
    }
    return h;
}

static void write_ppm(const Surface *s, const char *name)
{
    char path[MAX_PATH];
    FILE *f;
    int i;
    snprintf(path, sizeof path, "%s\\%s.ppm", out_dir, name);
    f = fopen(path, "wb");
    if (!f) { printf("!! cannot write %s\n", path); return; }
    fprintf(f, "P6\n%d %d\n255\n", s->w, s->h);
    for (i = 0; i < s->w * s->h; i++) {
        fputc(s->bits[i * 4 + 2], f);
        fputc(s->bits[i * 4 + 1], f);
        fputc(s->bits[i * 4 + 0], f);
    }
    fclose(f);
}

static void report(Surface *s, const char *name, const char *what, int grey)
{
    COLORREF colours[26];
    int counts[26], ncol = 0, overflow = 0;
    int x, y, x0 = s->w, y0 = s->h, x1 = -1, y1 = -1, i;
    GdiFlush();
    write_ppm(s, name);
    for (y = 0; y < s->h; y++)
        for (x = 0; x < s->w; x++) {
            COLORREF c = pixel(s, x, y);
            if (!c) continue;
            if (x < x0) x0 = x;
            if (x > x1) x1 = x;
            if (y < y0) y0 = y;
            if (y > y1) y1 = y;
            for (i = 0; i < ncol && colours[i] != c; i++) ;
            if (i == ncol) {
                if (ncol == 26) { overflow++; continue; }
                colours[ncol] = c;
                counts[ncol++] = 0;
            }
            counts[i]++;
        }
    printf("\n== case %s (%dx%d)\n# %s\n", name, s->w, s->h, what);
    printf("hash %08X\n", hash_pixels(s));
    if (x1 < 0) {
        printf("all black\n");
        return;
    }
    printf("bbox x=%d..%d y=%d..%d (%dx%d)\ncolours:", x0, x1, y0, y1,
           x1 - x0 + 1, y1 - y0 + 1);
    for (i = 0; i < ncol; i++)
        printf(" %c=%02X%02X%02X*%d", 'A' + i, GetRValue(colours[i]),
               GetGValue(colours[i]), GetBValue(colours[i]), counts[i]);
    if (overflow) printf(" (+%d pixels of further colours)", overflow);
    putchar('\n');
    if (y1 - y0 + 1 > row_limit) {
        int rows[3] = { y0, (y0 + y1) / 2, y1 };
        for (i = 0; i < 3; i++) {
            int l = -1, r = -1;
            for (x = 0; x < s->w; x++)
                if (pixel(s, x, rows[i])) { if (l < 0) l = x; r = x; }
            printf("row %d: non-black x=%d..%d\n", rows[i], l, r);
        }
        return;
    }
    for (y = y0; y <= y1; y++) {
        printf("y=%-3d", y);
        if (grey) {
            putchar(' ');
            for (x = x0; x <= x1; x++) {
                COLORREF c = pixel(s, x, y);
                int m = GetRValue(c);
                if (GetGValue(c) > m) m = GetGValue(c);
                if (GetBValue(c) > m) m = GetBValue(c);
                putchar(c ? "0123456789ABCDEF"[m >> 4] : '.');
            }
        } else {
            for (x = x0; x <= x1; x++) {
                COLORREF c = pixel(s, x, y);
                int start = x;
                if (!c) continue;
                while (x + 1 <= x1 && pixel(s, x + 1, y) == c) x++;
                for (i = 0; i < ncol && colours[i] != c; i++) ;
                printf(" %d-%d%c", start, x, i < ncol ? 'A' + i : '?');
            }
        }
        putchar('\n');
    }
}

/* ---- cases ---------------------------------------------------------------- */

static void blackness(int w, int h)
{
    Surface s;
    char name[64];
    surface_make(&s, w, h);
    snprintf(name, sizeof name, "blackness_%dx%d", w, h);
    report(&s, name, "0x5A bytes, then BitBlt(dc->same dc, BLACKNESS)", 0);
    surface_free(&s);
}

static void one_fill(const char *name, int l, int t, int r, int b)
{
    Surface s;
    char what[128];
    surface_make(&s, 100, 100);
    fill(&s, l, t, r, b, WHITE);
    snprintf(what, sizeof what, "FillRect {%d,%d,%d,%d} white brush", l, t, r, b);
    report(&s, name, what, 0);
    surface_free(&s);
}

enum shape { RECTANGLE, ELLIPSE, PIE };

static void shape(const char *name, int w, int h, enum shape kind, long pen, long brush,
                  int l, int t, int r, int b, int x1, int y1, int x2, int y2)
{
    Surface s;
    char what[200];
    const char *pens = pen < 0 ? "NULL_PEN" : "red 1px pen";
    const char *brushes = brush < 0 ? "NULL_BRUSH" : "green brush";
    surface_make(&s, w, h);
    tools(&s, pen, brush);
    if (kind == RECTANGLE) {
        Rectangle(s.dc, l, t, r, b);
        snprintf(what, sizeof what, "Rectangle(%d,%d,%d,%d) %s, %s", l, t, r, b, pens, brushes);
    } else if (kind == ELLIPSE) {
        Ellipse(s.dc, l, t, r, b);
        snprintf(what, sizeof what, "Ellipse(%d,%d,%d,%d) %s, %s", l, t, r, b, pens, brushes);
    } else {
        Pie(s.dc, l, t, r, b, x1, y1, x2, y2);
        snprintf(what, sizeof what, "Pie(%d,%d,%d,%d, %d,%d, %d,%d) %s, %s",
                 l, t, r, b, x1, y1, x2, y2, pens, brushes);
    }
    report(&s, name, what, 0);
    surface_free(&s);
}

static void lines(void)
{
    static const int seg[][4] = {
        { 10, 10, 20, 10 },   /* horizontal, left to right */
        { 20, 12, 10, 12 },   /* horizontal, right to left */
        { 24, 10, 24, 20 },   /* vertical, down */
        { 10, 14, 16, 20 },   /* 45 degrees */
        { 28, 10, 31, 20 },   /* steep */
        { 10, 24, 22, 27 },   /* shallow */
    };
    Surface s;
    POINT cp;
    size_t i;
    surface_make(&s, 100, 100);
    tools(&s, RED, -1);
    for (i = 0; i < sizeof seg / sizeof seg[0]; i++) {
        MoveToEx(s.dc, seg[i][0], seg[i][1], NULL);
        LineTo(s.dc, seg[i][2], seg[i][3]);
    }
    GetCurrentPositionEx(s.dc, &cp);
    report(&s, "lines", "MoveToEx/LineTo red 1px: (10,10)-(20,10) (20,12)-(10,12) (24,10)-(24,20) "
           "(10,14)-(16,20) (28,10)-(31,20) (10,24)-(22,27)", 0);
    printf("current position after last LineTo: (%ld,%ld)\n", cp.x, cp.y);
    surface_free(&s);
}

static void srcinvert(void)
{
    Surface a, b;
    unsigned before;
    surface_make(&a, 100, 100);
    surface_make(&b, 100, 100);
    fill(&a, 10, 10, 30, 20, RGB(0xF0, 0x0F, 0x33));
    fill(&b, 20, 14, 40, 24, RGB(0x0F, 0xFF, 0x55));
    GdiFlush();
    before = hash_pixels(&a);
    BitBlt(a.dc, 0, 0, 100, 100, b.dc, 0, 0, SRCINVERT);
    report(&a, "srcinvert", "A: FillRect {10,10,30,20} F00F33; B: FillRect {20,14,40,24} 0FFF55; "
           "BitBlt(A,0,0,100,100,B,0,0,SRCINVERT)", 0);
    BitBlt(a.dc, 0, 0, 100, 100, b.dc, 0, 0, SRCINVERT);
    GdiFlush();
    printf("second identical SRCINVERT restores A: %s\n", hash_pixels(&a) == before ? "yes" : "no");
    BitBlt(a.dc, 5, 5, 20, 20, b.dc, 15, 10, SRCINVERT);
    report(&a, "srcinvert_offset", "then BitBlt(A,5,5,20,20,B,15,10,SRCINVERT) on the restored A", 0);
    surface_free(&a);
    surface_free(&b);
}

static void text(const char *name, int use_clip_box)
{
    Surface s;
    SIZE ext;
    TEXTMETRICA tm;
    LOGFONTA lf;
    char face[64], what[200];
    RECT clip = { 0, 0, 267, 130 };
    surface_make(&s, 267, 130);
    SelectObject(s.dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(s.dc, TRANSPARENT);
    SetTextColor(s.dc, WHITE);
    GetTextExtentPoint32A(s.dc, "42%", 3, &ext);
    if (use_clip_box) SetRect(&clip, 20, 20, 20 + ext.cx - 3, 20 + ext.cy / 2);
    ExtTextOutA(s.dc, 20, 20, ETO_CLIPPED, &clip, "42%", 3, NULL);
    snprintf(what, sizeof what, "ExtTextOutA(20,20, ETO_CLIPPED, clip {%ld,%ld,%ld,%ld}, \"42%%\") "
             "DEFAULT_GUI_FONT, white, TRANSPARENT",
             clip.left, clip.top, clip.right, clip.bottom);
    report(&s, name, what, 1);
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    GetTextFaceA(s.dc, sizeof face, face);
    GetTextMetricsA(s.dc, &tm);
    printf("DEFAULT_GUI_FONT logfont \"%s\" lfHeight=%ld; ", lf.lfFaceName, lf.lfHeight);
    printf("font \"%s\" height=%ld ascent=%ld descent=%ld intlead=%ld avecharw=%ld; "
           "extent of \"42%%\" = %ldx%ld\n", face, tm.tmHeight, tm.tmAscent, tm.tmDescent,
           tm.tmInternalLeading, tm.tmAveCharWidth, ext.cx, ext.cy);
    surface_free(&s);
}

/* ---- cases that settle rules the first ones leave open ------------------- */

/* FillRect with only one side inverted: is each side taken from its other end? */
static void fills_half_inverted(void)
{
    one_fill("fillrect_inverted_x", 20, 10, 10, 15);
    one_fill("fillrect_inverted_y", 10, 15, 20, 10);
}

/* Draws each segment with MoveToEx/LineTo and names them all in the description. */
static void segments(const char *name, const int (*seg)[4], size_t count)
{
    Surface s;
    char what[300] = "MoveToEx/LineTo red 1px:";
    size_t i;
    surface_make(&s, 100, 100);
    tools(&s, RED, -1);
    for (i = 0; i < count; i++) {
        MoveToEx(s.dc, seg[i][0], seg[i][1], NULL);
        LineTo(s.dc, seg[i][2], seg[i][3]);
        snprintf(what + strlen(what), sizeof what - strlen(what), " (%d,%d)-(%d,%d)",
                 seg[i][0], seg[i][1], seg[i][2], seg[i][3]);
    }
    report(&s, name, what, 0);
    surface_free(&s);
}

/* One line per octant, each 12 by 3 (or 3 by 12) from its own start, with three
 * ties between two pixels: which octants step sideways on a tie? */
static void line_octants(void)
{
    static const int dir[8][2] = {
        { 12, 3 }, { 3, 12 }, { -3, 12 }, { -12, 3 }, { -12, -3 }, { -3, -12 }, { 3, -12 }, { 12, -3 },
    };
    int seg[8][4], i;
    for (i = 0; i < 8; i++) {
        seg[i][0] = 15 + (i % 4) * 22;
        seg[i][1] = 10 + (i / 4) * 30;
        seg[i][2] = seg[i][0] + dir[i][0];
        seg[i][3] = seg[i][1] + dir[i][1];
    }
    segments("lines_octants", (const int (*)[4])seg, 8);
}

/* Lines that start and end far outside the bitmap: the pixels inside stay those
 * of the whole line. */
static void lines_far(void)
{
    static const int seg[][4] = {
        { -1000, -300, 3000, 900 }, { -100000, 50, 100000, 61 }, { 20, -100000, 31, 100000 },
    };
    segments("lines_far", seg, sizeof seg / sizeof seg[0]);
}

/* Pies whose radials run exactly through outline points, in every quadrant: does
 * the arc start at that point or past it? Box 10..30: the outline's quarter has
 * the point 7 right of and 5 above the centre (20,20). */
static void pie_radial_ties(void)
{
    shape("pie_ties_upper", 100, 100, PIE, RED, GREEN, 10, 10, 30, 30, 27, 15, 13, 15);
    shape("pie_ties_lower", 100, 100, PIE, RED, GREEN, 10, 10, 30, 30, 13, 25, 27, 25);
    shape("pie_ties_upper_reversed", 100, 100, PIE, RED, GREEN, 10, 10, 30, 30, 13, 15, 27, 15);
    shape("pie_ties_lower_reversed", 100, 100, PIE, RED, GREEN, 10, 10, 30, 30, 27, 25, 13, 25);
}

/* Ellipses too small for an outline, and pies in a box one pixel wide. */
static void tiny_shapes(void)
{
    shape("ellipse_1x1", 100, 100, ELLIPSE, RED, GREEN, 10, 10, 11, 11, 0, 0, 0, 0);
    shape("ellipse_2x5", 100, 100, ELLIPSE, RED, GREEN, 10, 10, 12, 15, 0, 0, 0, 0);
    shape("ellipse_5x2_null_pen", 100, 100, ELLIPSE, -1, GREEN, 10, 10, 15, 12, 0, 0, 0, 0);
    shape("ellipse_3x3", 100, 100, ELLIPSE, RED, GREEN, 10, 10, 13, 13, 0, 0, 0, 0);
    shape("ellipse_inverted", 100, 100, ELLIPSE, RED, GREEN, 30, 30, 10, 17, 0, 0, 0, 0);
    shape("pie_width_1_to_6", 100, 100, PIE, RED, GREEN, 10, 10, 11, 20, 10, 99, 10, 0);
    shape("pie_width_1_from_12", 100, 100, PIE, RED, GREEN, 10, 10, 11, 20, 10, 0, 10, 99);
}

/* ---- the gauge's pictures, step by step as it draws them ---------------- */

enum { NEEDLE, PIE_GAUGE };

static int round_even(long double v) { return (int)rintl(v); }

/* The gauge's overlay without its text: the paint rectangle (shrunk by one with
 * the frame) filled with the control colour, then the dial or the ellipse and the
 * pie, in the foreground colour over a white background colour. */
static void gauge(int kind, int w, int h, int frame, int percent)
{
    const long double pi = 3.14159265358979323846264338327950288L;
    Surface s;
    char name[64], what[300];
    int L = frame, T = frame, R = w - frame, B = h - frame;
    int W = R - L + frame, H = B - T + frame;
    COLORREF fore = kind == NEEDLE ? BLUE : RED;
    surface_make(&s, w, h);
    fill(&s, L, T, R, B, GREY);
    tools(&s, fore, WHITE);
    if (kind == NEEDLE) {
        Pie(s.dc, L, T, W, 2 * H - 1, L + W, B - 1, L, B - 1);
        MoveToEx(s.dc, L, B, NULL);
        LineTo(s.dc, L + W, B);
        snprintf(what, sizeof what, "gauge needle: Pie(%d,%d,%d,%d, %d,%d, %d,%d); base (%d,%d)-(%d,%d)",
                 L, T, W, 2 * H - 1, L + W, B - 1, L, B - 1, L, B, L + W, B);
        if (percent > 0) {
            long double mx = w / 2;
            double a = (double)(percent * 0.01L * pi);
            int x = round_even(mx * (1 - cosl(a))), y = round_even((B - 1) * (1 - sinl(a)));
            MoveToEx(s.dc, (int)mx, B - 1, NULL);
            LineTo(s.dc, x, y);
            snprintf(what + strlen(what), sizeof what - strlen(what), "; needle (%d,%d)-(%d,%d)",
                     (int)mx, B - 1, x, y);
        }
    } else {
        Ellipse(s.dc, L, T, W, H);
        snprintf(what, sizeof what, "gauge pie: Ellipse(%d,%d,%d,%d)", L, T, W, H);
        if (percent > 0) {
            long double mx = W / 2, my = H / 2;
            double a = (double)((percent * 0.02L + 0.5L) * pi);
            int x = round_even(mx * (1 - cosl(a))), y = round_even(my * (1 - sinl(a)));
            SelectObject(s.dc, CreateSolidBrush(fore));
            Pie(s.dc, L, T, W, H, x, y, (int)mx, 0);
            snprintf(what + strlen(what), sizeof what - strlen(what), "; Pie(%d,%d,%d,%d, %d,%d, %d,%d)",
                     L, T, W, H, x, y, (int)mx, 0);
        }
    }
    snprintf(name, sizeof name, "gauge_%s_%dx%d_%s_%d", kind == NEEDLE ? "needle" : "pie", w, h,
             frame ? "frame" : "noframe", percent);
    report(&s, name, what, 0);
    surface_free(&s);
}

static void gauges(void)
{
    static const int sizes[][2] = { { 100, 100 }, { 267, 130 }, { 61, 47 } };
    static const int needle[] = { 0, 50, 51, 70, 83, 100 };
    static const int pie[] = { 0, 25, 45, 50, 100 };
    size_t i, k;
    int frame;
    row_limit = 1000;
    for (i = 0; i < sizeof sizes / sizeof sizes[0]; i++)
        for (frame = 1; frame >= 0; frame--) {
            for (k = 0; k < sizeof needle / sizeof needle[0]; k++)
                gauge(NEEDLE, sizes[i][0], sizes[i][1], frame, needle[k]);
            for (k = 0; k < sizeof pie / sizeof pie[0]; k++)
                gauge(PIE_GAUGE, sizes[i][0], sizes[i][1], frame, pie[k]);
        }
    row_limit = 40;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: gdi OUT_DIR\n");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    snprintf(out_dir, sizeof out_dir, "%s", argv[1]);

    blackness(100, 100);
    one_fill("fillrect", 10, 10, 20, 15);
    one_fill("fillrect_inverted", 20, 15, 10, 10);
    one_fill("fillrect_clipped", 95, -5, 105, 3);

    shape("rectangle", 100, 100, RECTANGLE, RED, GREEN, 10, 10, 20, 15, 0, 0, 0, 0);
    shape("rectangle_null_pen", 100, 100, RECTANGLE, -1, GREEN, 10, 10, 20, 15, 0, 0, 0, 0);

    shape("ellipse_odd", 100, 100, ELLIPSE, RED, GREEN, 10, 10, 21, 17, 0, 0, 0, 0);
    shape("ellipse_full", 100, 100, ELLIPSE, RED, GREEN, 0, 0, 100, 100, 0, 0, 0, 0);
    shape("ellipse_20", 100, 100, ELLIPSE, RED, GREEN, 10, 10, 30, 30, 0, 0, 0, 0);
    shape("ellipse_20_null_pen", 100, 100, ELLIPSE, -1, GREEN, 10, 10, 30, 30, 0, 0, 0, 0);

    /* Pie box 10..30: centre (20,20); (30,20) is 3 o'clock, (20,10) 12 o'clock. */
    shape("pie_3_to_12", 100, 100, PIE, RED, GREEN, 10, 10, 30, 30, 30, 20, 20, 10);
    shape("pie_12_to_3", 100, 100, PIE, RED, GREEN, 10, 10, 30, 30, 20, 10, 30, 20);
    shape("pie_9_to_3", 100, 100, PIE, RED, GREEN, 10, 10, 30, 30, 10, 20, 30, 20);
    shape("pie_far_radials", 100, 100, PIE, RED, GREEN, 10, 10, 30, 30, 1000, 20, 20, -1000);
    shape("pie_start_eq_end", 100, 100, PIE, RED, GREEN, 10, 10, 30, 30, 30, 20, 30, 20);
    shape("pie_start_eq_end_null_pen", 100, 100, PIE, -1, GREEN, 10, 10, 30, 30, 30, 20, 30, 20);
    shape("pie_thin", 100, 100, PIE, RED, GREEN, 10, 10, 30, 30, 30, 20, 30, 18);
    shape("pie_null_pen_3_to_12", 100, 100, PIE, -1, GREEN, 10, 10, 30, 30, 30, 20, 20, 10);
    shape("pie_wide_267x130", 267, 130, PIE, RED, GREEN, 0, 0, 267, 130, 267, 65, 133, 0);

    lines();
    srcinvert();
    text("text_42pct", 0);
    text("text_42pct_clipped", 1);

    fills_half_inverted();
    line_octants();
    lines_far();
    pie_radial_ties();
    tiny_shapes();
    gauges();
    return 0;
}
