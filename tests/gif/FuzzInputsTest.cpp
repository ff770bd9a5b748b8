// The fuzzer's seed corpus and every input that once failed it (fuzz/regressions): each loads
// from memory exactly as from its file, with the same images or the same error.
#include "GifTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

using giftest::AllPixels;

namespace {

// What a load leaves: the error message (empty after success) and each image's pixels and size.
struct TOutcome {
    std::string error;
    std::vector<std::vector<std::uint8_t>> pixels;
    bool operator==(const TOutcome&) const = default;
};

template <typename Load>
TOutcome Outcome(Load load)
{
    TGifFile gif;
    TOutcome outcome;
    try {
        load(gif);
    } catch (const std::exception& error) {
        outcome.error = error.what();
    }
    for (const auto& image : gif.SubImages) {
        // Big images (with only an end code in these inputs) are compared by size alone.
        const TImageDescriptor& size = image->ImageDescriptor;
        outcome.pixels.push_back(std::int64_t{size.ImageWidth} * size.ImageHeight <= 1 << 20 ? AllPixels(*image)
                                                                               : std::vector<std::uint8_t>{});
        outcome.pixels.back().insert(outcome.pixels.back().end(), {static_cast<std::uint8_t>(size.ImageWidth),
                                                                   static_cast<std::uint8_t>(size.ImageHeight)});
    }
    return outcome;
}

std::vector<std::filesystem::path> FuzzInputs()
{
    std::vector<std::filesystem::path> files;
    for (const char* folder : {"corpus", "regressions"})
        for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(KBX_FUZZ_DIR) / folder))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

TEST(FuzzInputs, LoadFromMemoryAsFromTheFile)
{
    const std::vector<std::filesystem::path> files = FuzzInputs();
    ASSERT_GE(files.size(), 18u);
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const TOutcome fromFile = Outcome([&](TGifFile& gif) { gif.LoadFromFile(path.string()); });
        const TOutcome fromMemory = Outcome([&](TGifFile& gif) {
            gif.LoadFromMemory(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        });
        EXPECT_TRUE(fromFile == fromMemory) << path << ": " << fromFile.error << " / " << fromMemory.error;
        if (path.parent_path().filename() == "corpus") {
            EXPECT_EQ(fromFile.error, "") << path;
        }
    }
}
