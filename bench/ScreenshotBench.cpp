// Screenshot switch: from a selection change in the game list to the new picture in the preview
// control, as the program does it (read and decode the GIF, convert it, hand it to the control),
// for 256-colour photograph-like screenshots of 640x480 and 1024x768. Beside it, Qt's own GIF
// reader handing its picture to the same control, and the program switching to a true-colour PNG
// of the same picture (read with Qt's reader and scaled down to fit the control), both on a jump
// and on a step from the game just above, whose neighbours' PNG files are decoded ahead.
//
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKABINEX_BENCH=ON
//   cmake --build build-bench --target ScreenshotBench && build-bench/ScreenshotBench [processes]
//
// Every figure is the median over fresh processes (default 15 per size and side, run
// alternately): each starts the main window on a program directory whose first game shows one
// screenshot, then times the jump to the second game, whose screenshot is another file of the
// same size. A warm process that reloaded one file would reuse the memory of the last load and
// hide the cost of touching fresh pages. Times are the thread's CPU time (user and kernel, so the
// page faults count): with other jobs on the machine it is far steadier than the wall clock, and
// the work waits for nothing but memory, the files being in the page cache.
#include "Median.h"
#include "Application.h"
#include "BenchImages.h"
#include "Controls.h"
#include "GifUnit.h"
#include "GiflibWriter.h"
#include "Unit1.h"

#include <QApplication>
#include <QImage>
#include <QImageReader>
#include <QListWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct TSize {
    int width, height;
};
constexpr TSize Sizes[] = {{640, 480}, {1024, 768}};

std::string SizeName(TSize size)
{
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

void WriteScreenshot(const fs::path& path, TSize size, int seed)
{
    std::vector<std::uint8_t> pixels = benchimages::PhotoLike(size.width, size.height);
    for (auto& pixel : pixels)
        pixel = static_cast<std::uint8_t>(pixel + seed); // a different file, the same kind of picture
    giftest::TGiflibFrame frame;
    frame.width = size.width;
    frame.height = size.height;
    frame.pixels = std::move(pixels);
    giftest::WriteGifWithGiflib(path.string(), size.width, size.height, giftest::Palette(256, seed), {frame});
}

// The same picture as WriteScreenshot's, as an emulator would save it: a true-colour PNG.
void WritePngScreenshot(const fs::path& path, TSize size, int seed, bool indexed)
{
    const std::vector<std::uint8_t> pixels = benchimages::PhotoLike(size.width, size.height);
    const std::vector<GifColorType> palette = giftest::Palette(256, seed);
    QImage image(size.width, size.height, QImage::Format_RGB32);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) {
            const GifColorType& colour = palette[std::uint8_t(pixels[std::size_t(y) * size.width + x] + seed)];
            image.setPixel(x, y, qRgb(colour.Red, colour.Green, colour.Blue));
        }
    if (indexed) // 256 colours as in the GIF: Qt writes an 8-bit palette PNG
        image = image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
    image.save(QString::fromStdString(path.string()), "png");
}

// A program directory whose games have PNG screenshots only.
void BuildPngProgramDir(const fs::path& root, TSize size, bool palette)
{
    fs::create_directories(root / "scrshots");
    std::ofstream(root / "kabinex.ini") << "[path]\nemudir=" << (root / "emu").string() << "/\n"
                                        << "[games]\nfirst=First game\nmiddle=No screenshot\nsecond=Second game\n";
    WritePngScreenshot(root / "scrshots" / "first.png", size, 0, palette);
    WritePngScreenshot(root / "scrshots" / "second.png", size, 17, palette);
    WriteScreenshot(root / "scrshots" / "notavail.gif", {16, 16}, 3);
}

// A program directory per size: games "first" and "second", each with its screenshot, and between
// them "middle", without one.
void BuildProgramDir(const fs::path& root, TSize size)
{
    fs::create_directories(root / "scrshots");
    std::ofstream(root / "kabinex.ini") << "[path]\nemudir=" << (root / "emu").string() << "/\n"
                                        << "[games]\nfirst=First game\nmiddle=No screenshot\nsecond=Second game\n";
    WriteScreenshot(root / "scrshots" / "first.gif", size, 0);
    WriteScreenshot(root / "scrshots" / "second.gif", size, 17);
    WriteScreenshot(root / "scrshots" / "notavail.gif", {16, 16}, 3);
}

double ThreadMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) * 1e-6;
}

double MillisecondsOf(const auto& action)
{
    const double start = ThreadMilliseconds();
    action();
    return ThreadMilliseconds() - start;
}

// In the child: the program's main window, showing the first game, jumps to the second, two rows
// down (as type-to-find does), so that nothing of it has been decoded ahead.
double KabinexSwitch(const fs::path& programDir)
{
    fs::current_path(programDir);
    SetGifMessageHook(ProcessMessagesNowAndThen); // as the program sets it
    TForm1 form;
    form.GameDescsClick();
    return MillisecondsOf([&] { form.GameDescs->setCurrentRow(2); });
}

// In the child: as KabinexSwitch, but the first picture has been seen for a moment, as when
// stepping through the list: the next game's PNG or JPEG has been decoded ahead meanwhile. Timed
// on the wall clock, so that a wait for a decode not yet finished counts.
double KabinexStep(const fs::path& programDir)
{
    fs::current_path(programDir);
    SetGifMessageHook(ProcessMessagesNowAndThen);
    TForm1 form;
    form.GameDescs->setCurrentRow(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    form.GameDescs->setCurrentRow(2);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// In the child: the same control, fed by Qt's GIF reader.
double QtReaderSwitch(const fs::path& programDir)
{
    TImage control;
    control.resize(273, 193);
    control.SetCenter(true);
    const auto show = [&](const char* game) {
        QImageReader reader(QString::fromStdString((programDir / "scrshots" / game).string()), "gif");
        control.SetPicture(reader.read());
    };
    show("first.gif");
    return MillisecondsOf([&] { show("second.gif"); });
}

int Child(int argc, char** argv)
{
    QApplication app(argc, argv);
    const std::string side = argv[2];
    const double ms = side == "kabinex" ? KabinexSwitch(argv[3])
        : side == "kabinex-step"        ? KabinexStep(argv[3])
                                        : QtReaderSwitch(argv[3]);
    std::printf("%.4f\n", ms);
    return 0;
}

double RunChild(const std::string& self, const std::string& side, const fs::path& programDir)
{
    const std::string command = "'" + self + "' --child " + side + " '" + programDir.string() + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    double ms = -1;
    if (pipe == nullptr || std::fscanf(pipe, "%lf", &ms) != 1)
        ms = -1;
    if (pipe != nullptr && pclose(pipe) != 0)
        ms = -1;
    if (ms < 0) {
        std::fprintf(stderr, "child %s failed\n", side.c_str());
        std::exit(1);
    }
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 4 && std::string(argv[1]) == "--child")
        return Child(argc, argv);

    const int processes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    QGuiApplication app(argc, argv); // the PNG screenshots are written through QImage
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const bool qtReadsGif = QImageReader::supportedImageFormats().contains("gif");
    QTemporaryDir dir;
    for (TSize size : Sizes) {
        const fs::path programDir = fs::path(dir.path().toStdString()) / SizeName(size);
        const fs::path pngProgramDir = fs::path(dir.path().toStdString()) / (SizeName(size) + "-png");
        const fs::path palettePngProgramDir = fs::path(dir.path().toStdString()) / (SizeName(size) + "-png8");
        BuildProgramDir(programDir, size);
        BuildPngProgramDir(pngProgramDir, size, false);
        BuildPngProgramDir(palettePngProgramDir, size, true);
        std::vector<double> kabinex, kabinexPng, kabinexPalettePng, steppedPng, peer;
        for (int run = 0; run < processes; ++run) {
            kabinex.push_back(RunChild(self, "kabinex", programDir));
            kabinexPng.push_back(RunChild(self, "kabinex", pngProgramDir));
            kabinexPalettePng.push_back(RunChild(self, "kabinex", palettePngProgramDir));
            steppedPng.push_back(RunChild(self, "kabinex-step", pngProgramDir));
            if (qtReadsGif)
                peer.push_back(RunChild(self, "qt", programDir));
        }
        std::printf("%s: %.1f ms\n", SizeName(size).c_str(), Median(kabinex));
        std::printf("%s true-colour PNG: %.1f ms\n", SizeName(size).c_str(), Median(kabinexPng));
        std::printf("%s 256-colour PNG: %.1f ms\n", SizeName(size).c_str(), Median(kabinexPalettePng));
        std::printf("%s true-colour PNG, stepped to (decoded ahead; wall clock): %.1f ms\n", SizeName(size).c_str(),
                    Median(steppedPng));
        if (qtReadsGif)
            std::printf("%s (Qt's GIF reader): %.1f ms\n", SizeName(size).c_str(), Median(peer));
        std::fflush(stdout);
    }
    return 0;
}
