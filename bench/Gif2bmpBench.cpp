// gif2bmp against a giflib-based converter (gif2bmp_giflib), as whole fresh processes, run
// alternately so that a busy machine slows both alike.
//
// Run:
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKABINEX_BENCH=ON -DKABINEX_TESTS=OFF
//   cmake --build build-bench --target gif2bmp_bench gif2bmp gif2bmp_giflib
//   build-bench/gif2bmp_bench [runs]
//
// The pictures are written with giflib's encoder into a temporary directory first; both
// converters must write the same bitmap file. Each figure is the median wall time of the runs
// (default 15) from the start of the process to its exit.
#include "Median.h"
#include "BenchImages.h"
#include "GiflibWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

double Now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Wall seconds of one run of `program in out`; exits the benchmark when the run fails.
double RunSeconds(const std::string& program, const std::string& in, const std::string& out)
{
    const char* argv[] = {program.c_str(), in.c_str(), out.c_str(), nullptr};
    const double start = Now();
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", program.c_str());
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = Now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s %s failed\n", program.c_str(), in.c_str());
        std::exit(1);
    }
    return seconds;
}

std::string FileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TPicture {
    const char* name;
    int size;
    std::vector<std::uint8_t> (*make)(int, int);
};

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const std::filesystem::path bin = std::filesystem::canonical("/proc/self/exe").parent_path();
    const std::string ours = (bin / "gif2bmp").string(), peer = (bin / "gif2bmp_giflib").string();
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kbx_gif2bmp_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);

    const TPicture pictures[] = {{"photo 2048x2048", 2048, benchimages::PhotoLike}, {"noise 4096x4096", 4096, benchimages::Noise}};
    std::printf("%-17s %12s %12s %7s\n", "picture", "gif2bmp ms", "giflib ms", "ratio");
    for (const TPicture& picture : pictures) {
        giftest::TGiflibFrame frame;
        frame.width = frame.height = picture.size;
        frame.pixels = picture.make(picture.size, picture.size);
        const std::string gif = (dir / "in.gif").string();
        giftest::WriteGifWithGiflib(gif, picture.size, picture.size, giftest::Palette(256, 5), {frame});
        const std::string ourBmp = (dir / "ours.bmp").string(), peerBmp = (dir / "peer.bmp").string();

        std::vector<double> ourTimes, peerTimes;
        for (int i = 0; i < runs; ++i) {
            ourTimes.push_back(RunSeconds(ours, gif, ourBmp));
            peerTimes.push_back(RunSeconds(peer, gif, peerBmp));
        }
        if (FileBytes(ourBmp) != FileBytes(peerBmp)) {
            std::fprintf(stderr, "%s: the bitmap files differ\n", picture.name);
            return 1;
        }
        const double a = Median(ourTimes), b = Median(peerTimes);
        std::printf("%-17s %12.1f %12.1f %7.2f\n", picture.name, a * 1e3, b * 1e3, a / b);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
