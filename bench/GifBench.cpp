// GIF decoding speed, side by side with giflib, and the bitmap file writer against a plain copy.
//
// Run:
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKABINEX_BENCH=ON -DKABINEX_TESTS=OFF
//   cmake --build build-bench --target gif_bench && build-bench/gif_bench [runs] [name filter]
//
// The images are written with giflib's encoder into a temporary directory first. Each figure is
// the median of several runs (default 9; the small screenshots run 20 times as often). Decoding
// is the whole LoadFromFile (with the row hook set to a no-op) against DGifOpenFileName +
// DGifSlurp + DGifCloseFile, both from the page cache, run alternately, timed in thread CPU time.
#include "Median.h"
#include "BenchImages.h"
#include "Classes.h"
#include "GifUnit.h"
#include "GiflibWriter.h"

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <unistd.h>

using benchimages::Noise;
using benchimages::PhotoLike;
using giftest::TGiflibFrame;

namespace {

// CPU time of this thread: on a machine shared with other jobs it is far steadier than the wall
// clock, and the work measured here does not wait for anything but memory.
double ThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Seconds(const std::function<void()>& action)
{
    const double start = ThreadSeconds();
    action();
    return ThreadSeconds() - start;
}

// Runs the two actions alternately, so that a busy machine slows both alike; the two medians.
std::pair<double, double> MedianSecondsSideBySide(int runs, const std::function<void()>& first,
                                                  const std::function<void()>& second)
{
    std::vector<double> a, b;
    for (int i = 0; i < runs; ++i) {
        a.push_back(Seconds(first));
        b.push_back(Seconds(second));
    }
    return {Median(a), Median(b)};
}

// An arcade screenshot: flat background, tiles, sprites and a score line in a few dozen colours.
std::vector<std::uint8_t> Screenshot(int width, int height)
{
    std::mt19937 random(3);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height, 1);
    auto fill = [&](int left, int top, int w, int h, std::uint8_t color) {
        for (int y = std::max(0, top); y < std::min(height, top + h); ++y)
            for (int x = std::max(0, left); x < std::min(width, left + w); ++x)
                pixels[static_cast<std::size_t>(y) * width + x] = color;
    };
    for (int y = height / 2; y < height; y += 16)
        for (int x = 0; x < width; x += 16)
            if (random() % 3 == 0)
                fill(x, y, 16, 16, static_cast<std::uint8_t>(20 + random() % 8));
    for (int sprite = 0; sprite < 40; ++sprite) {
        const int left = static_cast<int>(random() % width), top = static_cast<int>(random() % height);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                if (random() % 4 != 0)
                    fill(left + x, top + y, 1, 1, static_cast<std::uint8_t>(40 + random() % 24));
    }
    for (int x = 8; x < width - 8; x += 8) // score digits
        for (int y = 4; y < 12; ++y)
            if (random() % 2)
                fill(x + static_cast<int>(random() % 6), y, 1, 1, 15);
    return pixels;
}

struct TBenchImage {
    const char* name;
    int width;
    int height;
    bool interlaced;
    std::vector<std::uint8_t> (*make)(int, int);
    int runsFactor;
};

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const std::string only = argc > 2 ? argv[2] : "";
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kbx_gif_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    SetGifMessageHook([] {});

    const TBenchImage images[] = {
        {"photo 4096x4096", 4096, 4096, false, PhotoLike, 1},
        {"noise 4096x4096", 4096, 4096, false, Noise, 1},
        {"screenshot 320x240", 320, 240, false, Screenshot, 20},
        {"screenshot 320x240 interlaced", 320, 240, true, Screenshot, 20},
        {"screenshot 640x480", 640, 480, false, Screenshot, 20},
        {"screenshot 640x480 interlaced", 640, 480, true, Screenshot, 20},
    };
    std::printf("%-31s %10s %10s %7s %12s %12s %7s\n", "image", "ours Mp/s", "giflib", "ratio", "bmp write ms",
                "plain copy", "ratio");
    for (const TBenchImage& image : images) {
        if (std::string(image.name).find(only) == std::string::npos)
            continue;
        TGiflibFrame frame;
        frame.width = image.width;
        frame.height = image.height;
        frame.interlaced = image.interlaced;
        frame.pixels = image.make(image.width, image.height);
        const std::string path = (dir / "bench.gif").string();
        giftest::WriteGifWithGiflib(path, image.width, image.height, giftest::Palette(256, 5), {frame});

        const int n = runs * image.runsFactor;
        const double megapixels = image.width * static_cast<double>(image.height) / 1e6;
        TGifFile gif;
        const auto [ours, theirs] = MedianSecondsSideBySide(n, [&] { gif.LoadFromFile(path); }, [&] {
            int error = 0;
            GifFileType* file = DGifOpenFileName(path.c_str(), &error);
            if (file == nullptr || DGifSlurp(file) == GIF_ERROR)
                std::abort();
            DGifCloseFile(file, &error);
        });
        if (gif.SubImages.size() != 1 || std::memcmp(gif.SubImages[0]->Pixels->Items->Memory(), frame.pixels.data(), frame.pixels.size()) != 0) {
            std::fprintf(stderr, "%s: decoded pixels differ\n", image.name);
            return 1;
        }

        // The bitmap file against a plain copy of the pixels, both into memory that is already
        // there (a stream of the right size, a buffer of the pixels' size): the writer's own work.
        const TGifSubImage& first = *gif.SubImages[0];
        TMemoryStream stream;
        WriteBitmapStream(first, stream);
        std::vector<std::uint8_t> target(frame.pixels.size());
        const auto [bitmap, copy] = MedianSecondsSideBySide(
            n, [&] { WriteBitmapStream(first, stream); },
            [&] {
                std::memcpy(target.data(), first.Pixels->Items->Memory(), target.size());
                asm volatile("" : : "r"(target.data()) : "memory");
            });
        std::printf("%-31s %10.1f %10.1f %6.2fx %12.3f %12.3f %6.2fx\n", image.name, megapixels / ours,
                    megapixels / theirs, theirs / ours, bitmap * 1e3, copy * 1e3, bitmap / copy);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
