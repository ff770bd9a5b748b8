// The game list at size, four measurements:
//   check   the ROM check of N games (half with their directory, a quarter with an archive in a
//           ZIP directory of N/4 archives in mixed letter case): TRomCheck beside a check that
//           opens each archive's path by name, as one did before archives were found in any case;
//   find    type-to-find on N games: each key answered (search, selection, preview, launch
//           button), the worst case being text that no game begins with;
//   huge    a 10 MiB description in the list: a repaint of the list, and Escape to the settings written;
//   memory  a catalogue of about 100 MB (1.75 million games): time to the window shown and peak
//           memory of a fresh process, beside an empty window's;
//   views   N games (the check's collection, a tenth favourites, a fifth played): the available
//           view chosen at once, filling in while the check runs (missing games shown: must be 0),
//           then each view's key to the list repainted once every mark is final.
//
//   cmake -S . -B build-bench -DKABINEX_BENCH=ON -DCMAKE_BUILD_TYPE=Release && cmake --build build-bench --target game_list_bench
//   xvfb-run -a build-bench/game_list_bench [check|find|huge|memory|views ...]   (default: all)
#include "FileSystem.h"
#include "GameList.h"
#include "IniFiles.h"
#include "Median.h"
#include "Unit1.h"

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string GameName(int i)
{
    return "game" + std::to_string(i);
}

void WriteSettings(const fs::path& root, const std::string& path, int games, const std::string& descriptionTail = "")
{
    // The placeholder picture: without it the window would stop on an error box.
    fs::create_directories(root / "scrshots");
    fs::copy_file(fs::path(KABINEX_SOURCE_DIR) / "demo/scrshots/notavail.gif", root / "scrshots/notavail.gif",
                  fs::copy_options::overwrite_existing);
    std::ofstream ini(root / "kabinex.ini", std::ios::binary);
    ini << path << "[games]\n";
    for (int i = 0; i < games; ++i)
        ini << GameName(i) << "=Game number " << i << " (19" << (80 + i % 20) << ")" << descriptionTail << "\n";
}

TGameListModel& Games(const TForm1& form)
{
    return *qobject_cast<TGameListModel*>(form.GameDescs->model());
}

std::unique_ptr<TForm1> StartIn(const fs::path& root)
{
    fs::current_path(root);
    return std::make_unique<TForm1>();
}

// --- check ---

void BuildCollection(const fs::path& root, int games)
{
    if (fs::exists(root / "built"))
        return;
    for (int i = 0; i < games; i += 2) {
        fs::create_directories(root / "emu" / GameName(i));
        for (int f = 0; f < 5; ++f)
            std::ofstream(root / "emu" / GameName(i) / ("rom" + std::to_string(f)));
    }
    fs::create_directories(root / "zips");
    for (int i = 1; i < games; i += 4)
        std::ofstream(root / "zips" / (GameName(i) + (i % 8 == 1 ? ".zip" : ".ZIP")));
    std::ofstream(root / "built");
}

void Check(const std::vector<int>& sizes)
{
    std::printf("ROM check, median of 5 (half the games present as directories, a quarter as archives)\n");
    for (const int games : sizes) {
        const fs::path root = fs::temp_directory_path() / ("kabinex-list-bench-check-" + std::to_string(games));
        BuildCollection(root, games);
        const std::string emu = (root / "emu").string();
        const std::string zips = (root / "zips").string();
        std::vector<double> now, byName;
        int found = 0;
        int foundByName = 0;
        for (int run = 0; run < 5; ++run) {
            Clock::time_point start = Clock::now();
            {
                TRomCheck check(emu, zips);
                found = 0;
                for (int i = 0; i < games; ++i)
                    found += check.Available(GameName(i)) ? 1 : 0;
            }
            now.push_back(MillisecondsSince(start));
            start = Clock::now();
            {
                platform::TSubdirectories dirs(emu);
                foundByName = 0;
                for (int i = 0; i < games; ++i)
                    foundByName += dirs.CountEntries(GameName(i), PresentEntryCount) >= PresentEntryCount
                                || platform::FileExists(platform::JoinPath(zips, GameName(i) + ".zip"));
            }
            byName.push_back(MillisecondsSince(start));
        }
        std::printf("%8d games   any letter case, one listing %7.1f ms (%d present)   exact name, a stat per game %7.1f ms (%d present)\n",
                    games, Median(now), found, Median(byName), foundByName);
    }
}

// --- find ---

void Find(const std::vector<int>& sizes)
{
    for (const int games : sizes) {
        QTemporaryDir dir;
        WriteSettings(dir.path().toStdString(), "", games);
        auto form = StartIn(dir.path().toStdString());
        form->show();
        (void)QTest::qWaitFor([&] { return !Games(*form).CheckRunning(); }, 60000);
        form->GameDescs->setFocus();
        auto keyTimes = [&](const QString& text) {
            std::vector<double> times;
            for (const QChar c : text) {
                const Clock::time_point start = Clock::now();
                QTest::keyClick(form->GameDescs, c.toLatin1());
                form->GameDescs->viewport()->repaint();
                times.push_back(MillisecondsSince(start));
            }
            QTest::qWait(TGameListView::TypingPauseMs + 100);
            return times;
        };
        std::vector<double> all;
        double worst = 0;
        for (const char* text : {"game number 9", "g", "qqqq", "zzzz", "game number 4999"}) {
            for (const double t : keyTimes(QString::fromLatin1(text))) {
                all.push_back(t);
                worst = std::max(worst, t);
            }
        }
        std::printf("type-to-find, %d games: %zu keys, median %.2f ms, slowest %.2f ms (key, search, selection, preview, repaint)\n",
                    games, all.size(), Median(all), worst);
    }
}

// --- views ---

// The check's collection in a program directory, with favourites and plays.
fs::path ViewsProgramDir(int games, const std::string& options)
{
    const fs::path root = fs::temp_directory_path() / ("kabinex-list-bench-check-" + std::to_string(games));
    BuildCollection(root, games);
    WriteSettings(root, "[path]\nemudir=" + (root / "emu").string() + "/\nzipdir=" + (root / "zips").string() + "/\n" + options,
                  games);
    std::ofstream ini(root / "kabinex.ini", std::ios::binary | std::ios::app);
    ini << "[favorites]\n";
    for (int i = 0; i < games; i += 10)
        ini << GameName(i) << "=1\n";
    fs::create_directories(root / "state/kabinex");
    std::ofstream played(root / "state/kabinex/played.tsv", std::ios::binary);
    for (int i = 0; i < games; i += 5)
        played << GameName(i) << '\t' << 1 + i % 7 << "\t2026-0" << 1 + i % 9 << "-1" << i % 10 << "T10:00:00\t" << i % 5000 << '\n';
    setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
    return root;
}

bool PresentInCollection(std::string_view name)
{
    const int i = std::stoi(std::string(name.substr(4)));
    return i % 2 == 0 || i % 4 == 1;
}

void ViewsWhileChecking(int games)
{
    // The available view kept from the last run: it is there from the first row on.
    const Clock::time_point start = Clock::now();
    auto form = StartIn(ViewsProgramDir(games, "[options]\nview=2\n"));
    form->show();
    int missingShown = 0;
    int checkedUpTo = 0;
    int fills = 0;
    while (Games(*form).CheckRunning()) {
        QCoreApplication::processEvents();
        const int rows = form->GameDescs->count();
        fills += rows > checkedUpTo ? 1 : 0;
        for (; checkedUpTo < rows; ++checkedUpTo)
            missingShown += PresentInCollection(Games(*form).Name(checkedUpTo)) ? 0 : 1;
    }
    const double finished = MillisecondsSince(start);
    std::printf("available view kept from the last run, %d games: filled in %d steps, %d rows at %.1f ms from start, "
                "missing games shown %d\n", games, fills, form->GameDescs->count(), finished, missingShown);
}

void ViewKeys(int games)
{
    auto form = StartIn(ViewsProgramDir(games, ""));
    form->show();
    (void)QTest::qWaitForWindowExposed(form.get());
    (void)QTest::qWaitFor([&] { return !Games(*form).CheckRunning(); }, 120000);
    form->GameDescs->setFocus();
    form->GameDescs->setCurrentRow(games / 2);
    std::printf("view keys, %d games, every mark final (key to list repainted, median / slowest of 5):\n", games);
    for (const int key : {Qt::Key_2, Qt::Key_3, Qt::Key_4, Qt::Key_5, Qt::Key_1}) {
        std::vector<double> times;
        for (int run = 0; run < 5; ++run) {
            QTest::keyClick(form->GameDescs, key == Qt::Key_1 ? Qt::Key_2 : Qt::Key_1, Qt::ControlModifier);
            const Clock::time_point start = Clock::now();
            QTest::keyClick(form->GameDescs, static_cast<Qt::Key>(key), Qt::ControlModifier);
            form->GameDescs->viewport()->repaint();
            times.push_back(MillisecondsSince(start));
        }
        std::printf("  Ctrl+%d %-22s %7d rows   %6.2f ms / %6.2f ms\n", key - Qt::Key_0,
                    GameViewCaption(Games(*form).View()).toStdString().c_str(), form->GameDescs->count(), Median(times),
                    *std::max_element(times.begin(), times.end()));
    }
}

// --- huge ---

void Huge()
{
    QTemporaryDir dir;
    const fs::path root = dir.path().toStdString();
    WriteSettings(root, "", 0);
    {
        std::ofstream ini(root / "kabinex.ini", std::ios::binary | std::ios::app);
        ini << "big=" << std::string(10 << 20, 'x') << "\nsmall=Small\n";
    }
    std::vector<double> paints;
    auto form = StartIn(root);
    form->show();
    (void)QTest::qWaitForWindowExposed(form.get());
    for (int i = 0; i < 9; ++i) {
        const Clock::time_point start = Clock::now();
        form->GameDescs->viewport()->repaint();
        paints.push_back(MillisecondsSince(start));
    }
    form->CheckJoy->setChecked(true);
    const Clock::time_point escape = Clock::now();
    QTest::keyClick(form->GameDescs, Qt::Key_Escape);
    form.reset();
    std::printf("10 MiB description: repaint of the list %.2f ms (median of 9); Escape to settings written %.1f ms\n",
                Median(paints), MillisecondsSince(escape));
}

// --- memory ---

// Runs body in a fresh process; prints its time to the window shown and its peak memory.
template <class Body>
void InChild(const char* what, Body body)
{
    std::fflush(stdout);
    int ready[2];
    if (pipe(ready) != 0)
        return;
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        int argc = 1;
        char name[] = "game_list_bench";
        char* argv[] = {name, nullptr};
        QApplication app(argc, argv);
        body([&] { (void)!write(ready[1], "\n", 1); });
        std::fflush(stdout);
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    (void)!read(ready[0], &byte, 1);
    const double shown = MillisecondsSince(start);
    close(ready[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    std::printf("%-44s window shown %8.1f ms   peak %8.1f MB\n", what, shown, usage.ru_maxrss / 1024.0);
}

void Memory()
{
    QTemporaryDir dir;
    const fs::path root = dir.path().toStdString();
    // About 57 bytes a line: 1.75 million games make a 100 MB file.
    WriteSettings(root, "", 1750000, " - one description");
    std::printf("settings file of %.1f MB\n", fs::file_size(root / "kabinex.ini") / 1e6);
    InChild("empty window with one list", [](auto shown) {
        QDialog window;
        window.setFixedSize(547, 413);
        (new QListWidget(&window))->setGeometry(16, 256, 225, 145);
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
        shown();
    });
    // The settings layer's own share: the file read, one value looked up, the games visited.
    InChild("the settings file read, nothing shown", [&](auto shown) {
        const TIniFile settings((root / "kabinex.ini").string());
        (void)settings.ReadString("path", "emudir", ".");
        std::size_t games = 0;
        settings.ReadSectionValues("games", [&](std::string_view, std::string_view) { ++games; });
        shown();
    });
    InChild("the settings file read, the catalogue loaded", [&](auto shown) {
        const TIniFile settings((root / "kabinex.ini").string());
        (void)settings.ReadString("path", "emudir", ".");
        TGameCatalogue catalogue;
        catalogue.Load(settings);
        shown();
    });
    // The settings written at exit are the settings layer's own peak; the first figure stops before.
    for (const bool quit : {false, true}) {
        InChild(quit ? "kabinex, all marks final, settings written" : "kabinex, 1.75 million games, all marks final",
                [&](auto shown) {
                    auto form = StartIn(root);
                    form->show();
                    (void)QTest::qWaitForWindowExposed(form.get());
                    shown();
                    (void)QTest::qWaitFor([&] { return !Games(*form).CheckRunning(); }, 120000);
                    if (!quit)
                        _exit(0);
                });
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> chosen(argv + 1, argv + argc);
    if (chosen.empty())
        chosen = {"check", "find", "huge", "memory", "views"};
    for (const std::string& part : chosen) {
        if (part == "memory") {
            Memory();
            continue;
        }
        int fakeArgc = 1;
        QApplication app(fakeArgc, argv);
        if (part == "check")
            Check({40000, 100000});
        else if (part == "find")
            Find({100000});
        else if (part == "huge")
            Huge();
        else if (part == "views") {
            ViewsWhileChecking(100000);
            ViewKeys(100000);
        }
        std::fflush(stdout);
    }
    return 0;
}
