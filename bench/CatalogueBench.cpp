// Start-up cost of big catalogues: builds a program directory with N games (a directory per game,
// every second one with its ROMs present) and times the main window's creation (settings,
// catalogue) and the ROM check that follows in idle time until every mark is final, median of
// several runs.
//
//   cmake -S . -B build-bench -DKABINEX_BENCH=ON && cmake --build build-bench --target catalogue_bench
//   build-bench/catalogue_bench [N ...]        (default: 10000 40000)
#include "Median.h"
#include "Unit1.h"

#include <QTest>

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

void BuildProgramDir(const fs::path& root, int games)
{
    std::ofstream ini(root / "kabinex.ini");
    ini << "[path]\nemudir=" << (root / "emu").string() << "/\n[games]\n";
    for (int i = 0; i < games; ++i) {
        const std::string name = "game" + std::to_string(i);
        ini << name << "=Game number " << i << " (19" << (80 + i % 20) << ")\n";
        const fs::path dir = root / "emu" / name;
        fs::create_directories(dir);
        const int files = i % 2 == 0 ? 5 : 2;
        for (int f = 0; f < files; ++f)
            std::ofstream(dir / ("rom" + std::to_string(f)));
    }
}

struct Times {
    double created;
    double checked;
};

Times MedianMilliseconds(const fs::path& root, int runs)
{
    std::vector<double> created, checked;
    fs::current_path(root);
    auto since = [](auto start) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        {
            TForm1 form;
            created.push_back(since(start));
            const auto* games = qobject_cast<const TGameListModel*>(form.GameDescs->model());
            (void)QTest::qWaitFor([&] { return !games->CheckRunning(); }, 600000);
            checked.push_back(since(start));
        }
    }
    return {Median(std::move(created)), Median(std::move(checked))};
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {10000, 40000};

    std::printf("%10s %14s %16s %14s\n", "games", "created ms", "marks final ms", "us per game");
    for (int games : sizes) {
        QTemporaryDir dir;
        BuildProgramDir(dir.path().toStdString(), games);
        const Times ms = MedianMilliseconds(dir.path().toStdString(), 5);
        std::printf("%10d %14.1f %16.1f %14.2f\n", games, ms.created, ms.checked, ms.checked * 1000.0 / games);
    }
    return 0;
}
