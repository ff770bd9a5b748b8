// Opening the read-me viewer on big read-mes: a file of one long line and a file of short lines,
// 1 MiB and 15 MiB. Each opening runs in a fresh process (this program started again with
// --once), timed from before the window shows until it has painted; median of five. Beside it,
// the same text handed to the text area unbroken, as the viewer did before long lines were cut
// into pieces.
//
//   cmake -S . -B build-bench -DKABINEX_BENCH=ON && cmake --build build-bench --target readme_bench
//   build-bench/readme_bench
#include "Median.h"
#include "Memo.h"
#include "Unit2.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string ReadmeText(std::size_t size, bool shortLines)
{
    std::string text;
    for (int i = 0; text.size() < size; ++i)
        text += "palabra" + std::to_string(i) + (shortLines && i % 8 == 7 ? "\n" : " ");
    text.resize(size);
    return text;
}

// One opening; prints the milliseconds.
int Once(std::size_t size, bool shortLines, bool unbroken)
{
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString();
    std::ofstream(path + "/readme.txt") << ReadmeText(size, shortLines);
    TForm2 viewer([&] { return path; }, [&] { return path; });
    QElapsedTimer timer;
    timer.start();
    if (unbroken) {
        viewer.Memo1->setPlainText(MemoText(ReadmeText(size, shortLines)).remove(u'\n'));
        viewer.Memo1->show();
        viewer.show();
    } else {
        viewer.show();
    }
    viewer.repaint();
    QCoreApplication::processEvents();
    std::printf("%lld\n", timer.elapsed());
    return 0;
}

double MedianMilliseconds(const QString& self, const QStringList& arguments)
{
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        QProcess child;
        child.start(self, QStringList{"--once"} + arguments);
        child.waitForFinished(-1);
        times.push_back(child.readAllStandardOutput().trimmed().toDouble());
    }
    return Median(std::move(times));
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 5 && args[1] == "--once")
        return Once(args[2].toULongLong(), args[3] == "lines", args[4] == "unbroken");

    std::printf("%-12s %-12s %12s %14s\n", "size", "text", "viewer (ms)", "unbroken (ms)");
    for (const char* size : {"1048576", "15728640"})
        for (const char* shape : {"one-line", "lines"}) {
            const double viewer = MedianMilliseconds(args[0], {size, shape, "viewer"});
            // Short lines reach the text area unchanged either way, and the 15 MiB line does
            // not open unbroken in any reasonable time: only the 1 MiB line is compared.
            const bool compared = QString(shape) == "one-line" && QString(size) == "1048576";
            const std::string unbroken =
                compared ? std::to_string(int(MedianMilliseconds(args[0], {size, shape, "unbroken"}))) : "-";
            std::printf("%-12s %-12s %12.0f %14s\n", size, shape, viewer, unbroken.c_str());
        }
    return 0;
}
