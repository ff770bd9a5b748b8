// What Kabinex costs while a game runs, beside an idle Qt window: a fresh process on an X server
// (run it under Xvfb) for each case, measured over a minute once it has settled:
//   peer:     the peer program's window, doing nothing;
//   idle:     Kabinex with no game started;
//   plain:    Kabinex with a present game running (the stand-in emulator, waiting);
//   wrapper:  the game started through a wrapper script that starts the game and 49 more programs
//             in the background and exits, as wrapper scripts do;
//   held:     an extracted game that has ended, its clean-up held back because another Kabinex's
//             game runs on the same directory, among 1,000 records of other launches.
// CPU is user + system time of the process (/proc/PID/stat), wake-ups the voluntary and forced
// context switches of its threads (/proc/PID/task/*/status; a thread that ends during the minute
// takes its count along). After each game case the game ends and the benchmark checks that the
// clean-up then happens; it says FAILED when not.
//
//   cmake -S . -B build-bench -DKABINEX_BENCH=ON && cmake --build build-bench --target idle_bench kabinex mave peer_launcher
//   xvfb-run -a -s "-screen 0 1024x768x24" build-bench/idle_bench build-bench/kabinex build-bench/mave
//       build-bench/peer_launcher [-s SECONDS] [-n RECORDS] [CASE ...]
#include "CleanupRecord.h"
// After Qt: the X headers define Bool and Status.
#include "BenchDisplay.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int ExecuteX = 448 + 40; // the Execute button in the main window's client area
constexpr int ExecuteY = 232 + 16;
constexpr int BackgroundPrograms = 49;

struct Usage {
    double cpuMs = 0;
    std::map<std::string, long> wakeUps; // per thread
};

Usage UsageOf(pid_t pid)
{
    Usage usage;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int i = 3; i < 14; ++i) // fields 3 to 13
        fields >> field;
    long utime = 0;
    long stime = 0;
    fields >> utime >> stime;
    usage.cpuMs = (utime + stime) * 1000.0 / sysconf(_SC_CLK_TCK);
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("voluntary_ctxt_switches:") || line.starts_with("nonvoluntary_ctxt_switches:"))
                usage.wakeUps[task.path().filename()] += std::atol(line.substr(line.find(':') + 1).c_str());
    }
    return usage;
}

// The wake-ups of the threads running at the end since the start (or since they started).
long WakeUpsBetween(const Usage& before, const Usage& after)
{
    long wakeUps = 0;
    for (const auto& [thread, count] : after.wakeUps) {
        const auto earlier = before.wakeUps.find(thread);
        wakeUps += count - (earlier == before.wakeUps.end() ? 0 : earlier->second);
    }
    return wakeUps;
}

template <class Condition>
bool WaitFor(Condition condition, int seconds = 30)
{
    const Clock::time_point until = Clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(milliseconds(50));
    }
    return true;
}

int LineCount(const fs::path& file)
{
    std::ifstream in(file);
    int lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    return lines;
}

void Write(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void Run(const std::string& command)
{
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// A program directory, its emulator directory with the stand-in as mave, and its own state.
struct Setup {
    fs::path root;
    fs::path prog, emu, zips, state, runs, stop;
    std::vector<std::string> environment;

    Setup(const fs::path& base, const std::string& name, const std::string& mave) : root(base / name)
    {
        fs::remove_all(root);
        prog = root / "prog";
        emu = root / "emu";
        zips = root / "zips";
        state = root / "state";
        runs = root / "runs.txt";
        stop = root / "game-over";
        for (const fs::path& dir : {prog / "scrshots", emu, zips, state})
            fs::create_directories(dir);
        fs::copy_file(fs::path(KABINEX_SOURCE_DIR) / "demo/scrshots/notavail.gif", prog / "scrshots/notavail.gif");
        fs::copy_file(mave, emu / "mave");
        environment = {"XDG_STATE_HOME=" + state.string(), "MAVE_STANDIN_RECORD=" + runs.string()};
    }

    void Settings(const std::string& games) const
    {
        Write(prog / "kabinex.ini", "[path]\nemudir=" + emu.string() + "/\nzipdir=" + zips.string()
                                        + "/\nunzipper=unzip\n[games]\n" + games);
    }

    void PresentGame(const std::string& game) const
    {
        fs::create_directories(emu / game);
        for (int i = 0; i < 8; ++i)
            Write(emu / game / (game + "." + std::to_string(i)), "rom");
    }

    void ZippedGame(const std::string& game) const
    {
        const fs::path staging = root / "zip-staging";
        fs::create_directories(staging);
        for (int i = 0; i < 8; ++i)
            Write(staging / (game + "." + std::to_string(i)), "rom");
        Run("cd '" + staging.string() + "' && zip -q '" + (zips / (game + ".zip")).string() + "' *");
        fs::remove_all(staging);
    }

    int Records() const
    {
        int count = 0;
        std::error_code none;
        for (const auto& entry : fs::directory_iterator(state / "kabinex", none))
            count += entry.path().extension() == ".cleanup" ? 1 : 0;
        return count;
    }
};

pid_t Spawn(const std::vector<std::string>& program, const fs::path& dir, const std::vector<std::string>& environment)
{
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        freopen("/dev/null", "w", stdout);
        freopen((dir / "output.txt").c_str(), "w", stderr);
        for (const std::string& entry : environment)
            putenv(const_cast<char*>(entry.c_str()));
        ExecProgram(program);
    }
    return pid;
}

// A program in a session of its own, as another Kabinex's emulator would run.
pid_t SpawnSession(const std::string& command)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        _exit(127);
    }
    return pid;
}

struct Result {
    double cpuMsPerMinute = 0;
    double wakeUpsPerSecond = 0;
    bool sound = true;
};

// One case: what it prepares, what starts its game, and what ends it and checks the clean-up.
struct Case {
    std::string name;
    bool kabinex = true;
    std::vector<std::string> environment;
    std::function<bool(Window)> start; // false when the game did not start
    std::function<bool()> finish;
};

class Bench {
public:
    Bench(std::vector<std::string> kabinex, std::vector<std::string> peer, int seconds)
        : kabinex_(std::move(kabinex)), peer_(std::move(peer)), seconds_(seconds)
    {
    }

    Result Measure(const Case& c, const fs::path& prog)
    {
        display_.Drain();
        const pid_t pid = Spawn(c.kabinex ? kabinex_ : peer_, prog, c.environment);
        const Window window = display_.WaitForMappedWindow();
        std::this_thread::sleep_for(milliseconds(1500));
        Result result;
        if (c.start && !c.start(window))
            result.sound = false;
        std::this_thread::sleep_for(milliseconds(2000)); // the launch settles
        const Usage before = UsageOf(pid);
        std::this_thread::sleep_for(std::chrono::seconds(seconds_));
        const Usage after = UsageOf(pid);
        result.cpuMsPerMinute = (after.cpuMs - before.cpuMs) * 60 / seconds_;
        result.wakeUpsPerSecond = double(WakeUpsBetween(before, after)) / seconds_;
        if (c.finish)
            result.sound = c.finish() && result.sound;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        return result;
    }

    BenchDisplay& display() { return display_; }
    int seconds() const { return seconds_; }

private:
    BenchDisplay display_;
    std::vector<std::string> kabinex_;
    std::vector<std::string> peer_;
    int seconds_;
};

} // namespace

namespace {

bool ClickExecute(BenchDisplay& display, Window window, const Setup& setup)
{
    const int before = LineCount(setup.runs);
    display.Click(window, ExecuteX, ExecuteY);
    return WaitFor([&] { return LineCount(setup.runs) > before; });
}

// A case whose game the Execute button starts.
Case GameCase(const std::string& name, BenchDisplay& display, const Setup& setup)
{
    Case c{name, true, setup.environment, nullptr, nullptr};
    c.start = [&display, &setup](Window window) { return ClickExecute(display, window, setup); };
    return c;
}

Case PlainGame(BenchDisplay& display, const Setup& setup)
{
    setup.PresentGame("alpha");
    setup.Settings("alpha=Alpha\n");
    Case c = GameCase("plain", display, setup);
    c.environment.push_back("MAVE_STANDIN_UNTIL=" + setup.stop.string());
    c.finish = [&setup] {
        Write(setup.stop, "");
        return WaitFor([&] { return setup.Records() == 0; });
    };
    return c;
}

Case WrappedGame(BenchDisplay& display, const Setup& setup)
{
    setup.PresentGame("alpha");
    setup.Settings("alpha=Alpha\n");
    fs::rename(setup.emu / "mave", setup.emu / "mave.real");
    const fs::path pidFile = setup.root / "wrapper.pid";
    Write(setup.emu / "mave", "#!/bin/sh\necho $$ > '" + pidFile.string() + "'\ni=0\nwhile [ $i -lt "
                                  + std::to_string(BackgroundPrograms) + " ]; do sleep 100000 & i=$((i+1)); done\n"
                                  "\"$(dirname \"$0\")/mave.real\" \"$@\" &\nexit 0\n");
    fs::permissions(setup.emu / "mave", fs::perms::owner_all);
    Case c = GameCase("wrapper", display, setup);
    c.environment.push_back("MAVE_STANDIN_UNTIL=" + setup.stop.string());
    c.finish = [&setup, pidFile] {
        // The game and the background programs are still in the wrapper's group.
        int group = 0;
        std::ifstream(pidFile) >> group;
        if (setup.Records() != 1)
            return false; // the clean-up ran under the game
        Write(setup.stop, "");
        if (group > 1)
            kill(-group, SIGKILL);
        return WaitFor([&] { return setup.Records() == 0; });
    };
    return c;
}

// Another Kabinex's game on the game's directory, and records of launches of other games.
pid_t RecordOtherLaunches(const Setup& setup, int records)
{
    const pid_t other = SpawnSession("exec sleep 100000");
    WaitFor([&] { return TProcessIdentity::Of(other).pid != 0; });
    const TProcessIdentity othersGame = TProcessIdentity::Of(other);
    for (int i = 0; i < records; ++i) {
        const std::string game = i == 0 ? "zgame" : "g" + std::to_string(i);
        TCleanupRecord record{game, setup.emu.string(), game, "", std::nullopt, TDirectoryState{},
                              TProcessIdentity::Self(), {othersGame}, ""};
        SaveCleanupRecord(NewCleanupRecordPath(), record);
    }
    return other;
}

Case HeldBackCleanUp(BenchDisplay& display, const Setup& setup, int records)
{
    setup.ZippedGame("zgame");
    setup.Settings("zgame=Z Game\n");
    setenv("XDG_STATE_HOME", setup.state.c_str(), 1);
    const pid_t other = RecordOtherLaunches(setup, records);
    Case c = GameCase("held", display, setup);
    c.finish = [&setup, other, records] {
        const fs::path rom = setup.emu / "zgame" / "zgame.0";
        const bool heldBack = fs::exists(rom) && setup.Records() == records + 1;
        kill(other, SIGKILL);
        waitpid(other, nullptr, 0);
        return heldBack && WaitFor([&] { return !fs::exists(rom) && setup.Records() == records; });
    };
    return c;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> words;
    int seconds = 60;
    int records = 1000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-s") == 0 && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc)
            records = std::atoi(argv[++i]);
        else
            words.push_back(argv[i]);
    }
    if (words.size() < 3) {
        std::fprintf(stderr, "usage: %s KABINEX MAVE PEER [-s SECONDS] [-n RECORDS] [CASE ...]\n", argv[0]);
        return 2;
    }
    const std::string kabinex = fs::absolute(words[0]).string();
    const std::string mave = fs::absolute(words[1]).string();
    const std::string peer = fs::absolute(words[2]).string();
    std::vector<std::string> cases(words.begin() + 3, words.end());
    if (cases.empty())
        cases = {"peer", "idle", "plain", "wrapper", "held"};

    const fs::path base = fs::temp_directory_path() / ("kabinex-idle-bench-" + std::to_string(getpid()));
    Bench bench({kabinex}, {peer, "--empty"}, seconds);
    std::printf("%-8s %14s %16s\n", "case", "CPU ms/minute", "wake-ups/second");
    for (const std::string& name : cases) {
        const Setup setup(base, name, mave);
        setup.Settings("alpha=Alpha\n");
        Case c{name, name != "peer", setup.environment, nullptr, nullptr};
        if (name == "plain")
            c = PlainGame(bench.display(), setup);
        else if (name == "wrapper")
            c = WrappedGame(bench.display(), setup);
        else if (name == "held")
            c = HeldBackCleanUp(bench.display(), setup, records);
        const Result result = bench.Measure(c, setup.prog);
        std::printf("%-8s %14.0f %16.2f%s\n", name.c_str(), result.cpuMsPerMinute, result.wakeUpsPerSecond,
                    result.sound ? "" : "   FAILED: the game did not start, or its clean-up did not run as it should");
        std::fflush(stdout);
    }
    fs::remove_all(base);
    return 0;
}
