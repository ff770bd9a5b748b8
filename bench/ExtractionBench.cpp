// The cost of launching a game whose ROMs come from its archive, beside the unzip tool alone, on an
// archive of 50,000 small files (N files with -n N). The goal: Enter to emulator within 1.15 times
// the unzip tool alone. Each run starts from a game directory that
// does not exist, in a fresh window:
//   unzip:   `unzip -n ARCHIVE -d DIR` on its own, until it has ended;
//   launch:  the Execute button pressed until the emulator has started (the extraction, the
//            records, bringing the files in);
//   cleanup: the emulator (the stand-in, ending at once) started until its files are taken back;
//   bring-in: of the launch, the steps after the unzip tool has ended: recording every entry and
//            making the private directory the game's in one rename;
//   by entry: the same where the game's directory stands (with a read-me): recording every
//            entry, moving them one by one, recording them again.
// It prints the medians. The archive stays in the temporary directory for the next run.
//
//   cmake -S . -B build-bench -DKABINEX_BENCH=ON && cmake --build build-bench --target extraction_bench mave
//   QT_QPA_PLATFORM=offscreen build-bench/extraction_bench build-bench/mave [-r RUNS] [-n FILES]
#include "Controls.h"
#include "Dialogs.h"
#include "Median.h"
#include "CleanupRecord.h"
#include "Extraction.h"
#include "Unit1.h"

#include <QApplication>
#include <QListWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

// Every message of a launch would stop the run: it is printed instead.
class PrintedDialogs : public TDialogs {
public:
    void ShowError(const QString& message) override { Print(message); }
    void ShowWarning(const QString& text) override { Print(text); }
    void ShowMessage(const QString& text) override { Print(text); }
    QString OpenFile(QWidget*, const TOpenDialogFilters&, const QString&) override { return {}; }

    bool failed = false;

private:
    void Print(const QString& text)
    {
        std::fprintf(stderr, "message: %s\n", text.toLocal8Bit().constData());
        failed = true;
    }
};

void Run(const std::string& command)
{
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// The archive of `files` members of 100 bytes each, made once.
fs::path BuildArchive(const fs::path& root, int files)
{
    const fs::path archive = root / "zips" / "big.zip";
    if (fs::exists(archive))
        return archive;
    fs::create_directories(root / "staging");
    fs::create_directories(root / "zips");
    for (int i = 0; i < files; ++i)
        std::ofstream(root / "staging" / ("rom" + std::to_string(i))) << std::string(100, char('a' + i % 26));
    Run("cd '" + (root / "staging").string() + "' && zip -q -r '" + archive.string() + "' .");
    fs::remove_all(root / "staging");
    return archive;
}

template <class Condition>
void WaitFor(Condition condition)
{
    while (!condition())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The steps of a launch after the unzip tool has ended, on the archive unpacked privately: the
// whole content made the game's directory, or, where that stands, every entry moved on its own.
double TimeBringIn(const fs::path& emu, const fs::path& archive, bool gameDirStands)
{
    TCleanupRecord record{"big", emu.string(), "big", NewStagingName("big"), std::nullopt, std::nullopt,
                          TProcessIdentity::Self(), {}, {}};
    MakeStagingDirectory(emu.string(), record.staging);
    Run("unzip -n '" + archive.string() + "' -d '" + (emu / record.staging).string() + "' >/dev/null");
    if (gameDirStands) {
        fs::create_directories(emu / "big");
        std::ofstream(emu / "big" / "README.TXT") << "read me\n";
    }
    const std::string recordPath = NewCleanupRecordPath();
    const Clock::time_point start = Clock::now();
    const TStagedContent content = OpenStagedContent(record.emulatorDir, record.staging);
    if (std::optional<TWholeContent> whole = PrepareWholeMove(content, record.emulatorDir, record.gameDirName)) {
        record.madeGameDir = whole->dir;
        record.created = std::move(whole->entries);
        SaveCleanupRecord(recordPath, record);
        MoveWhole(content, record.emulatorDir, record.staging, record.gameDirName);
    } else {
        record.madeGameDir = EnsureGameDirectory(record.emulatorDir, record.gameDirName);
        record.created = EntriesToMoveIn(content.dir, record.emulatorDir, record.gameDirName);
        SaveCleanupRecord(recordPath, record);
        record.created = MoveIn(content.dir, record.emulatorDir, record.gameDirName, *record.created).moved;
        SaveCleanupRecord(recordPath, record);
    }
    RemoveStaging(record.emulatorDir, record.staging);
    const double seconds = Seconds(start, Clock::now());
    record.Finish();
    fs::remove(recordPath);
    fs::remove_all(emu / "big");
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s MAVE [-r RUNS] [-n FILES]\n", argv[0]);
        return 2;
    }
    const std::string mave = argv[1];
    int runs = 5;
    int files = 50000;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "-r")
            runs = std::atoi(argv[i + 1]);
        else if (std::string(argv[i]) == "-n")
            files = std::atoi(argv[i + 1]);
    }
    const fs::path root = fs::temp_directory_path() / ("kabinex-extraction-bench-" + std::to_string(files));
    const fs::path archive = BuildArchive(root, files);
    const fs::path emu = root / "emu";
    const fs::path prog = root / "prog";
    fs::create_directories(emu);
    fs::create_directories(prog);
    fs::copy_file(mave, emu / "mave", fs::copy_options::overwrite_existing);
    std::ofstream(prog / "kabinex.ini") << "[path]\nemudir=" << emu.string() << "/\nzipdir=" << (root / "zips").string()
                                        << "/\n[games]\nbig=Big\n";
    setenv("MAVE_STANDIN_RECORD", (root / "runs.txt").c_str(), 1);
    setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
    PrintedDialogs dialogs;
    SetDialogs(&dialogs);
    fs::current_path(prog);

    std::vector<double> unzip;
    std::vector<double> launch;
    std::vector<double> cleanup;
    std::vector<double> bringIn;
    std::vector<double> bringInByEntry;
    const std::string gameDir = (emu / "big").string();
    for (int run = 0; run < runs; ++run) {
        fs::remove_all(emu / "big");
        const Clock::time_point unzipStart = Clock::now();
        Run("unzip -n '" + archive.string() + "' -d '" + gameDir + "' >/dev/null");
        unzip.push_back(Seconds(unzipStart, Clock::now()));
        fs::remove_all(emu / "big");

        TForm1 form;
        form.GameDescs->setCurrentRow(0);
        const Clock::time_point launchStart = Clock::now();
        form.ButtonExecute->click();
        const Clock::time_point started = Clock::now();
        launch.push_back(Seconds(launchStart, started));
        WaitFor([&] { return form.Runs().Running(gameDir) == 0 && !form.Runs().CleanupPending(gameDir); });
        cleanup.push_back(Seconds(started, Clock::now()));
        if (dialogs.failed || fs::exists(emu / "big/rom0"))
            return 1;

        bringIn.push_back(TimeBringIn(emu, archive, false));
        bringInByEntry.push_back(TimeBringIn(emu, archive, true));
    }
    std::printf("%d files, %d runs (medians)\n", files, runs);
    std::printf("unzip alone  %.3f s\n", Median(unzip));
    std::printf("launch       %.3f s (%.2f x unzip alone, goal 1.15)\n", Median(launch), Median(launch) / Median(unzip));
    std::printf("clean-up     %.3f s\n", Median(cleanup));
    std::printf("bring-in     %.3f s (of the launch: the game's directory made by it)\n", Median(bringIn));
    std::printf("  by entry   %.3f s (the game's directory standing with a read-me)\n", Median(bringInByEntry));
    return 0;
}
