// gaugeshots OUTDIR: writes a PNG of each gauge kind at several percentages, with and without the
// frame, painted the way the gauge paints itself on the screen, so that a person can look at them.
#include "Application.h"
#include "Gauges.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <cstdio>
#include <cstdlib>

namespace {

struct KindShot {
    TGaugeKind kind;
    const char* name;
    int width;
    int height;
    TColor foreColor;
};

constexpr KindShot kKinds[] = {
    {gkText, "text", 100, 100, clBlack},
    {gkHorizontalBar, "hbar", 100, 100, clBlack},
    {gkVerticalBar, "vbar", 100, 100, clBlack},
    {gkPie, "pie", 100, 100, clBlack},
    {gkNeedle, "needle", 267, 130, clBlue}, // as the progress window shows it
};

constexpr int kPercents[] = {0, 5, 7, 25, 33, 45, 50, 51, 66, 70, 75, 99, 100};

bool WriteShot(const QDir& directory, const KindShot& shot, TGaugeBorderStyle border, int percent)
{
    TGauge gauge;
    gauge.resize(shot.width, shot.height);
    gauge.SetFont(TFont("MS Sans Serif", -14, clWindowText));
    gauge.SetColor(clBtnFace);
    gauge.SetKind(shot.kind);
    gauge.SetForeColor(shot.foreColor);
    gauge.SetBorderStyle(border);
    gauge.SetProgress(percent);
    const QString name = QString::asprintf("%s-%s-%03d.png", shot.name,
        border == TGaugeBorderStyle::bsSingle ? "frame" : "noframe", percent);
    // grab() runs the widget's own paint event, the same code that draws it on the screen.
    const QImage picture = gauge.grab().toImage();
    if (!picture.save(directory.filePath(name), "PNG")) {
        std::fprintf(stderr, "gaugeshots: cannot write %s\n", qPrintable(directory.filePath(name)));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: gaugeshots OUTDIR\n");
        return 2;
    }
    // Nothing is shown: the pictures are painted off the screen.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    InitializeToolkit();

    const QDir directory(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(directory.path())) {
        std::fprintf(stderr, "gaugeshots: cannot create %s\n", argv[1]);
        return 1;
    }
    int written = 0;
    for (const KindShot& shot : kKinds)
        for (TGaugeBorderStyle border : {TGaugeBorderStyle::bsSingle, TGaugeBorderStyle::bsNone})
            for (int percent : kPercents) {
                if (!WriteShot(directory, shot, border, percent))
                    return 1;
                ++written;
            }
    std::printf("%d pictures written to %s\n", written, argv[1]);
    return 0;
}
