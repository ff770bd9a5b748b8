// Start-up, quit and memory of a launcher on big catalogues, as a user meets them: fresh
// processes, Kabinex and the peer alternating, on an X server (run it under Xvfb). The program
// directories stay in the temporary directory for the next run (kabinex-startup-bench-N).
//
// For each catalogue size it builds a program directory with N games, every second one present
// (a directory with five files) and the others missing (no directory), the settings file holding
// [path], [options] and then [games]. Each run starts the program in it and times
//   start: exec until the main window is mapped;
//   marks: exec until every mark is final: the program writes a byte to the descriptor named by
//          KABINEX_MARKS_FINAL_FD then; a program that writes nothing within 3 s of mapping
//          its window is taken to have checked everything before it showed (marks = start);
//   quit:  after a click on the first option (a setting changed), Escape until the process ended;
// and takes the process's peak resident memory. It prints the medians. Each program keeps its
// caches in the program directory (XDG_CACHE_HOME); a program followed by --first-start has them
// removed before each run, as on its first start on that collection.
//
//   cmake -S . -B build-bench -DKABINEX_BENCH=ON && cmake --build build-bench --target startup_bench peer_launcher kabinex
//   xvfb-run -a -s "-screen 0 1024x768x24" build-bench/startup_bench build-bench/kabinex
//       build-bench/kabinex --first-start build-bench/peer_launcher build-bench/peer_launcher --view
//       build-bench/peer_launcher --empty [-r RUNS] [N ...]
// A word starting with "--" is an argument of the program before it. Further programs (an older
// kabinex, say) join the alternation.
#include "BenchDisplay.h"
#include "Median.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The settings file's bytes; the game directories are created on disk (once: a directory left by
// an earlier run of the benchmark is used again).
std::string BuildProgramDir(const fs::path& root, int games)
{
    const bool built = fs::exists(root / "built");
    fs::create_directories(root / "emu");
    fs::create_directories(root / "scrshots");
    fs::copy_file(fs::path(KABINEX_SOURCE_DIR) / "demo/scrshots/notavail.gif", root / "scrshots/notavail.gif",
                  fs::copy_options::overwrite_existing);
    std::string ini = "[path]\nemudir=" + (root / "emu").string() + "/\nzipdir=<No tiene soporte ZIP!>\nunzipper=unzip\n"
                      "[options]\nenablejoystick=0\nnosound=0\naltfmbase=0\nnoscanlines=1\nvsync=1\nframeskip=0\n"
                      "[games]\n";
    for (int i = 0; i < games; ++i) {
        const std::string name = "game" + std::to_string(i);
        ini += name + "=Game number " + std::to_string(i) + " (19" + std::to_string(80 + i % 20) + ")\n";
        if (built || i % 2 != 0)
            continue;
        const fs::path dir = root / "emu" / name;
        fs::create_directories(dir);
        for (int f = 0; f < 5; ++f)
            std::ofstream(dir / ("rom" + std::to_string(f)));
    }
    std::ofstream(root / "built");
    return ini;
}

struct RunResult {
    double startMs = 0;
    double marksMs = 0;
    double quitMs = 0;
    double peakMb = 0;
    bool settingWritten = false;
};

class Bench {
public:
    RunResult Run(std::vector<std::string> program, const fs::path& dir, const std::string& ini)
    {
        WriteFile(dir / "kabinex.ini", ini);
        const auto firstStart = std::find(program.begin(), program.end(), "--first-start");
        if (firstStart != program.end()) {
            program.erase(firstStart);
            fs::remove_all(dir / "cache");
        }
        display_.Drain();
        int marks[2];
        if (pipe2(marks, O_CLOEXEC) != 0)
            std::exit(3);
        RunResult result;
        const Clock::time_point start = Clock::now();
        const pid_t pid = Spawn(program, dir, marks[1]);
        close(marks[1]);
        const Window window = display_.WaitForMappedWindow();
        const Clock::time_point mapped = Clock::now();
        result.startMs = Milliseconds(start, mapped);
        result.marksMs = Milliseconds(start, MarksFinal(marks[0], mapped, mapped + std::chrono::milliseconds(3000)));

        // Let the first activation (screenshot, button) finish before acting like a user.
        std::this_thread::sleep_until(std::max(Clock::now(), mapped + std::chrono::milliseconds(800)));
        // The first check box of the options group, on its box.
        display_.Click(window, 264 + 16 + 6, 224 + 24 + 8);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));

        const Clock::time_point escape = Clock::now();
        display_.PressKey("Escape");
        int status = 0;
        rusage usage {};
        wait4(pid, &status, 0, &usage);
        result.quitMs = Milliseconds(escape, Clock::now());
        result.peakMb = usage.ru_maxrss / 1024.0;
        // Open until the end: a late byte must find a reader.
        close(marks[0]);
        result.settingWritten = ReadFile(dir / "kabinex.ini").find("enablejoystick=1") != std::string::npos;
        return result;
    }

private:
    pid_t Spawn(const std::vector<std::string>& program, const fs::path& dir, int marksFd)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0)
                _exit(127);
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            // The write end stays open across exec; the read end closes.
            const int fd = dup(marksFd);
            setenv("KABINEX_MARKS_FINAL_FD", std::to_string(fd).c_str(), 1);
            setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
            ExecProgram(program);
        }
        return pid;
    }

    // When the program said every mark is final, not before its window mapped; the mapping
    // itself when it said nothing until `until`.
    static Clock::time_point MarksFinal(int fd, Clock::time_point mapped, Clock::time_point until)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        pollfd wait{fd, POLLIN, 0};
        char byte = 0;
        if (left > 0 && poll(&wait, 1, static_cast<int>(left)) > 0 && read(fd, &byte, 1) == 1)
            return std::max(mapped, Clock::now());
        return mapped;
    }

    BenchDisplay display_;
};

struct Series {
    std::vector<double> start, marks, quit, peak;
    int unwritten = 0;
    void Add(const RunResult& r)
    {
        start.push_back(r.startMs);
        marks.push_back(r.marksMs);
        quit.push_back(r.quitMs);
        peak.push_back(r.peakMb);
        unwritten += r.settingWritten ? 0 : 1;
    }
    void Print(const std::string& name, int games, bool writesSettings) const
    {
        std::printf("%8d %-24s start %8.1f ms   marks %8.1f ms   quit %8.1f ms   peak %7.1f MB%s\n", games,
                    name.c_str(), Median(start), Median(marks), Median(quit), Median(peak),
                    writesSettings && unwritten ? "   (setting NOT written in some runs)" : "");
    }
};

} // namespace

int main(int argc, char** argv)
{
    // Programs and sizes may come in any order: a number is a catalogue size.
    std::vector<std::vector<std::string>> programs;
    std::vector<int> sizes;
    int runs = 7;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-r") == 0 && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (std::isdigit(static_cast<unsigned char>(argv[i][0])))
            sizes.push_back(std::atoi(argv[i]));
        else if (std::strncmp(argv[i], "--", 2) == 0 && !programs.empty())
            programs.back().push_back(argv[i]);
        else
            programs.push_back({fs::absolute(argv[i]).string()});
    }
    if (programs.size() < 2) {
        std::fprintf(stderr, "usage: %s KABINEX PEER [MORE PROGRAMS] [-r RUNS] [GAMES ...]\n", argv[0]);
        return 2;
    }
    if (sizes.empty())
        sizes = {10000, 40000, 100000};

    Bench bench;
    for (const int games : sizes) {
        const fs::path dir = fs::temp_directory_path() / ("kabinex-startup-bench-" + std::to_string(games));
        const std::string ini = BuildProgramDir(dir, games);
        std::vector<Series> series(programs.size());
        for (int run = 0; run < runs; ++run)
            for (std::size_t p = 0; p < programs.size(); ++p)
                series[p].Add(bench.Run(programs[p], dir, ini));
        for (std::size_t p = 0; p < programs.size(); ++p) {
            std::string name = fs::path(programs[p].front()).filename().string();
            for (std::size_t word = 1; word < programs[p].size(); ++word)
                name += " " + programs[p][word];
            series[p].Print(name, games, name.find("--empty") == std::string::npos);
        }
        std::fflush(stdout);
    }
    return 0;
}
