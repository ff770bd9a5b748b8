// Adding the games of a big collection to the catalogue, as `kabinex --add-games` does it in a
// fresh process: 40,000 archives in the ZIP directory, an emulator whose -listfull prints 45,000
// sets, a catalogue of 200 games. Each run starts from the same settings file; the figure is the
// median wall time of the whole process, the emulator's listing included.
//
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKABINEX_BENCH=ON
//   cmake --build build-bench --target add_games_bench kabinex && build-bench/add_games_bench [runs]
#include "Median.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int Archives = 40'000;
constexpr int ListedSets = 45'000;
constexpr int Catalogued = 200;

std::string SetName(int i)
{
    return "set" + std::to_string(i);
}

std::string BuildCollection(const fs::path& root)
{
    fs::create_directories(root / "zips");
    fs::create_directories(root / "emu");
    for (int i = 0; i < Archives; ++i)
        std::ofstream(root / "zips" / (SetName(i) + (i % 3 == 0 ? ".ZIP" : ".zip")));
    std::ofstream list(root / "emu" / "list.txt");
    list << "Name:     Description:\n";
    for (int i = 0; i < ListedSets; ++i)
        list << SetName(i) << "   \"Juego número " << (ListedSets - i) << "\"\n";
    list.close();
    // The emulator: a program that prints its list, as a real one would.
    std::ofstream(root / "emu" / "mave") << "#!/bin/sh\nexec cat \"$(dirname \"$0\")/list.txt\"\n";
    fs::permissions(root / "emu" / "mave", fs::perms::owner_all, fs::perm_options::add);
    std::string ini = "; catalogo\n[path]\nemudir=emu/\nzipdir=zips/\n\n[games]\n";
    for (int i = 0; i < Catalogued; ++i)
        ini += SetName(i) + "=Juego " + std::to_string(i) + "\n";
    return ini;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const fs::path root = fs::temp_directory_path() / ("add_games_bench." + std::to_string(::getpid()));
    const std::string ini = BuildCollection(root);
    const std::string command = "cd '" + root.string() + "' && '" KABINEX_BINARY "' --add-games > /dev/null";
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        std::ofstream(root / "kabinex.ini", std::ios::binary) << ini;
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "kabinex --add-games failed\n");
            return 1;
        }
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("%d archives, %d-line list, %d added: %.3f s\n", Archives, ListedSets, Archives - Catalogued,
                Median(seconds));
    fs::remove_all(root);
    return 0;
}
