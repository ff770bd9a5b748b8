// Big settings files: time and peak memory of fresh processes, for the settings layer alone and
// for the real kabinex process until its main window is mapped.
//
// Three files, built once in the temporary directory (kabinex-settings-bench/):
//   games-100k  the reference: [path], [options] and a catalogue of 100,000 games (~5.7 MB);
//   games-big   the same with 1,750,000 games (~100 MB);
//   lines-big   a small catalogue and then ~100 MB of "=" lines in a section nobody reads.
// "layer" reads each file as the main window does (path and options, then the catalogue copied
// into one arena through the visiting ReadSectionValues); "kabinex" starts the program in the
// file's directory, waits for its window to be mapped, takes its peak resident memory and kills it.
//
//   cmake -S . -B build-bench -DKABINEX_BENCH=ON && cmake --build build-bench --target settings_bench kabinex
//   xvfb-run -a -s "-screen 0 1024x768x24" build-bench/settings_bench [-r RUNS] [build-bench/kabinex [OLDER ...]]
// Without a kabinex program only the layer is measured; several programs (an older kabinex, say)
// take turns run by run.
//
// Medians of 5 runs on a shared 2-core machine (Release build), before and after the settings file
// was held as one buffer of its bytes and its section starts, instead of a record per line:
//                        layer alone                 kabinex to window mapped
//   games-100k   before     99 ms    26 MB           471 ms    96 MB
//                after      79 ms    20 MB           433 ms    94 MB
//   games-big    before   1960 ms   360 MB          5539 ms  1176 MB
//                after    1223 ms   286 MB          5016 ms  1141 MB   (the list's own copies dominate)
//   lines-big    before   7695 ms  2663 MB         15428 ms  2688 MB
//                after     237 ms   103 MB           604 ms   131 MB
// The layer's figures include this program's own copy of the catalogue (as the list makes one).
#include "IniFiles.h"
#include "Median.h"

#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

double Milliseconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

const char* const Header = "[path]\nemudir=./emu/\nzipdir=<No tiene soporte ZIP!>\nunzipper=unzip\n"
                           "[options]\nenablejoystick=0\nnosound=0\naltfmbase=0\nnoscanlines=1\nvsync=1\nframeskip=0\n";

// One catalogue line of 57 bytes, as a hand-kept description of middling length.
std::string GameLine(int i)
{
    char line[64];
    std::snprintf(line, sizeof line, "game%07d=Game number %07d, a classic of 19%02d, one player\n", i, i, 80 + i % 20);
    return line;
}

void BuildCatalogue(const fs::path& file, int games)
{
    std::ofstream out(file, std::ios::binary);
    out << Header << "[games]\n";
    for (int i = 0; i < games; ++i)
        out << GameLine(i);
}

void BuildLines(const fs::path& file, std::size_t bytes)
{
    std::ofstream out(file, std::ios::binary);
    out << Header << "[games]\n";
    for (int i = 0; i < 100; ++i)
        out << GameLine(i);
    out << "[notes]\n";
    std::string lines;
    for (int i = 0; i < (1 << 19); ++i)
        lines += "=\n";
    for (std::size_t written = 0; written < bytes; written += lines.size())
        out << lines;
}

struct Measure {
    double ms = 0;
    double peakMb = 0;
};

// Child side of "layer": what the main window reads at start.
int ReadAsTheWindowDoes(const char* path)
{
    const Clock::time_point start = Clock::now();
    TIniFile settings(path);
    std::size_t seen = settings.ReadString("path", "emudir", ".").size() + settings.ReadString("path", "zipdir", "").size()
        + settings.ReadString("path", "unzipper", "unzip").size();
    for (const char* key : {"enablejoystick", "nosound", "altfmbase", "noscanlines", "vsync", "frameskip"})
        seen += settings.ReadBool("options", key, false) ? 1 : 0;
    std::string arena;
    std::vector<std::size_t> offsets;
    settings.ReadSectionValues("games", [&](std::string_view key, std::string_view value) {
        offsets.push_back(arena.size());
        arena.append(key);
        arena.append(value);
    });
    seen += offsets.size();
    const double ms = Milliseconds(start, Clock::now());
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%f %f %zu\n", ms, usage.ru_maxrss / 1024.0, seen);
    return 0;
}

Measure Layer(const char* self, const fs::path& file)
{
    const std::string command = std::string("'") + self + "' --read '" + file.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    Measure m;
    if (!pipe || std::fscanf(pipe, "%lf %lf", &m.ms, &m.peakMb) != 2)
        std::fprintf(stderr, "layer run failed on %s\n", file.c_str());
    if (pipe)
        pclose(pipe);
    return m;
}

// The peak resident memory so far of a live process.
double PeakMb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

Measure Program(Display* display, const std::string& program, const fs::path& file)
{
    const fs::path dir = file.parent_path() / (file.filename().string() + ".dir");
    fs::create_directories(dir / "emu");
    fs::remove(dir / "kabinex.ini");
    fs::create_symlink(file, dir / "kabinex.ini");
    XSync(display, False);
    XEvent event;
    while (XPending(display))
        XNextEvent(display, &event);
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (;;) {
        XNextEvent(display, &event);
        if (event.type == MapNotify && !event.xmap.override_redirect)
            break;
    }
    Measure m;
    m.ms = Milliseconds(start, Clock::now());
    m.peakMb = PeakMb(pid);
    kill(pid, SIGKILL); // the file stays as it is for the next run
    waitpid(pid, nullptr, 0);
    return m;
}

void Print(const char* what, const fs::path& file, const std::vector<Measure>& runs)
{
    std::vector<double> ms, mb;
    for (const Measure& m : runs)
        ms.push_back(m.ms), mb.push_back(m.peakMb);
    const double fileMb = static_cast<double>(fs::file_size(file)) / (1024 * 1024);
    std::printf("%-8s %-11s %7.1f MB file   %9.1f ms  (%6.2f ms/MB)   peak %8.1f MB\n", what,
                file.filename().c_str(), fileMb, Median(ms), Median(ms) / fileMb, Median(mb));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--read") == 0)
        return ReadAsTheWindowDoes(argv[2]);
    int runs = 3;
    std::vector<std::string> programs;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-r") == 0 && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else
            programs.push_back(fs::absolute(argv[i]).string());
    }

    const fs::path root = fs::temp_directory_path() / "kabinex-settings-bench";
    fs::create_directories(root);
    const fs::path reference = root / "games-100k";
    const fs::path games = root / "games-big";
    const fs::path lines = root / "lines-big";
    if (!fs::exists(reference))
        BuildCatalogue(reference, 100000);
    if (!fs::exists(games))
        BuildCatalogue(games, 1750000);
    if (!fs::exists(lines))
        BuildLines(lines, 100u << 20);

    const std::string selfPath = fs::read_symlink("/proc/self/exe").string();
    for (const fs::path& file : {reference, games, lines}) {
        std::vector<Measure> measures;
        for (int r = 0; r < runs; ++r)
            measures.push_back(Layer(selfPath.c_str(), file));
        Print("layer", file, measures);
    }
    if (programs.empty())
        return 0;
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X display: run under Xvfb (xvfb-run -a ...)\n");
        return 2;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    for (const fs::path& file : {reference, games, lines}) {
        std::vector<std::vector<Measure>> measures(programs.size());
        for (int r = 0; r < runs; ++r)
            for (std::size_t p = 0; p < programs.size(); ++p)
                measures[p].push_back(Program(display, programs[p], file));
        for (std::size_t p = 0; p < programs.size(); ++p)
            Print(p == 0 ? "kabinex" : ("peer " + std::to_string(p)).c_str(), file, measures[p]);
    }
    XCloseDisplay(display);
    return 0;
}
