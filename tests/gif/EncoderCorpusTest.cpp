// Files written by the encoders people use (ImageMagick, gifsicle, Pillow, ffmpeg, giflib's
// tools), generated when the test runs: every frame decodes to the same indices and colours as
// with giflib's decoder, and the first frame's bitmap file holds exactly giflib's pixels.
#include "Classes.h"
#include "GifTestSupport.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

using giftest::AllPixels;
using giftest::TempDir;

namespace {

struct TGiflibFrame {
    int width = 0;
    int height = 0;
    bool interlaced = false;
    bool local = false;
    std::vector<std::uint8_t> pixels;
    std::vector<GifColorType> colors;
};

std::vector<TGiflibFrame> DecodeWithGiflib(const std::string& path)
{
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif == nullptr)
        throw std::runtime_error("giflib cannot open " + path);
    if (DGifSlurp(gif) == GIF_ERROR) {
        DGifCloseFile(gif, &error);
        throw std::runtime_error("giflib cannot decode " + path);
    }
    std::vector<TGiflibFrame> frames;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        TGiflibFrame frame;
        frame.width = image.ImageDesc.Width;
        frame.height = image.ImageDesc.Height;
        frame.interlaced = image.ImageDesc.Interlace;
        frame.local = image.ImageDesc.ColorMap != nullptr;
        frame.pixels.assign(image.RasterBits, image.RasterBits + static_cast<std::size_t>(frame.width) * frame.height);
        const ColorMapObject* map = frame.local ? image.ImageDesc.ColorMap : gif->SColorMap;
        if (map != nullptr)
            frame.colors.assign(map->Colors, map->Colors + map->ColorCount);
        frames.push_back(std::move(frame));
    }
    DGifCloseFile(gif, &error);
    return frames;
}

const TColorTable& TableOf(const TGifSubImage& image)
{
    return image.HasLocalColorTable ? image.LocalColorTable : image.GifFile->GlobalColorTable;
}

// The bitmap file of giflib's first frame: its indices and colours; the palette entries past the
// file's table are the model's defaults, taken from our table.
std::string ExpectedBitmapFile(const TGiflibFrame& frame, const TColorTable& ours, const std::string& written)
{
    std::string expected = written.substr(0, 54);
    for (int i = 0; i < 256; ++i) {
        const bool inFile = static_cast<std::size_t>(i) < frame.colors.size();
        const TColorItem item = inFile ? TColorItem{frame.colors[i].Red, frame.colors[i].Green, frame.colors[i].Blue}
                                       : ours.Colors[i];
        expected += {static_cast<char>(item.Blue), static_cast<char>(item.Green), static_cast<char>(item.Red), '\0'};
    }
    const std::size_t padding = (4 - frame.width % 4) % 4;
    for (int row = frame.height - 1; row >= 0; --row) {
        expected.append(reinterpret_cast<const char*>(frame.pixels.data()) + static_cast<std::size_t>(row) * frame.width,
                        static_cast<std::size_t>(frame.width));
        expected.append(padding, '\0');
    }
    return expected;
}

// What the corpus of one encoder covers, so that a change in a tool's output shows.
struct TCoverage {
    std::set<std::size_t> tableSizes;
    bool interlaced = false;
    bool local = false;
    std::size_t mostFrames = 0;
    int biggestImage = 0;
};

void ExpectSameAsGiflib(const std::string& path, TCoverage& coverage)
{
    SCOPED_TRACE(path);
    const std::vector<TGiflibFrame> expected = DecodeWithGiflib(path);
    TGifFile gif;
    ASSERT_NO_THROW(gif.LoadFromFile(path));
    ASSERT_EQ(gif.SubImages.size(), expected.size());
    coverage.mostFrames = std::max(coverage.mostFrames, expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const TGifSubImage& image = *gif.SubImages[i];
        const TGiflibFrame& frame = expected[i];
        ASSERT_EQ(image.ImageDescriptor.ImageWidth, frame.width) << "frame " << i;
        ASSERT_EQ(image.ImageDescriptor.ImageHeight, frame.height) << "frame " << i;
        EXPECT_EQ(AllPixels(image), frame.pixels) << "frame " << i;
        const TColorTable& table = TableOf(image);
        ASSERT_EQ(static_cast<std::size_t>(table.Count), frame.colors.size()) << "frame " << i;
        for (std::size_t c = 0; c < frame.colors.size(); ++c)
            ASSERT_TRUE(table.Colors[c].Red == frame.colors[c].Red && table.Colors[c].Green == frame.colors[c].Green &&
                        table.Colors[c].Blue == frame.colors[c].Blue)
                << "frame " << i << " colour " << c;
        coverage.tableSizes.insert(frame.colors.size());
        coverage.interlaced |= frame.interlaced;
        coverage.local |= frame.local;
        coverage.biggestImage = std::max(coverage.biggestImage, frame.width * frame.height);
    }
    TMemoryStream stream;
    WriteBitmapStream(*gif.SubImages[0], stream);
    const std::string written(reinterpret_cast<const char*>(stream.Memory()), stream.Size());
    EXPECT_TRUE(written == ExpectedBitmapFile(expected[0], TableOf(*gif.SubImages[0]), written)) << "bitmap file";
}

// Runs the generator for one encoder; the files it wrote, or a skip message when its tool is
// missing.
std::vector<std::string> Generate(const std::string& encoder, std::string& skipMessage)
{
    const std::filesystem::path dir = TempDir() / encoder;
    const std::filesystem::path log = TempDir() / (encoder + ".log");
    const std::string command = std::string("bash '") + KBX_ENCODER_CORPUS_SCRIPT + "' " + encoder + " '" + dir.string() +
                                "' > '" + log.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    std::stringstream output;
    output << std::ifstream(log).rdbuf();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        skipMessage = output.str();
        return {};
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the " + encoder + " corpus could not be written:\n" + output.str());
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".gif")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Writes and checks the corpus of one encoder; false with the generator's message when the
// encoder's tool is missing.
bool CheckCorpus(const std::string& encoder, std::size_t expectedFiles, TCoverage& coverage, std::string& skipMessage)
{
    const std::vector<std::string> files = Generate(encoder, skipMessage);
    if (!skipMessage.empty())
        return false;
    EXPECT_EQ(files.size(), expectedFiles);
    for (const std::string& file : files)
        ExpectSameAsGiflib(file, coverage);
    return true;
}

const std::set<std::size_t> EveryTableSize = {2, 4, 8, 16, 32, 64, 128, 256};

} // namespace

#define CHECK_CORPUS(encoder, files, coverage)                                                                         \
    TCoverage coverage;                                                                                                \
    if (std::string skipMessage; !CheckCorpus(encoder, files, coverage, skipMessage))                                  \
    GTEST_SKIP() << skipMessage

TEST(EncoderCorpus, ImageMagick)
{
    CHECK_CORPUS("imagemagick", 261, coverage);
    EXPECT_EQ(coverage.tableSizes, EveryTableSize);
    EXPECT_TRUE(coverage.interlaced && coverage.local);
    EXPECT_GE(coverage.mostFrames, 5u);
    EXPECT_GE(coverage.biggestImage, 401 * 299);
}

// gifsicle goes on without a clear code once its table is full.
TEST(EncoderCorpus, Gifsicle)
{
    CHECK_CORPUS("gifsicle", 29, coverage);
    EXPECT_EQ(coverage.tableSizes, EveryTableSize);
    EXPECT_TRUE(coverage.interlaced && coverage.local);
    EXPECT_GE(coverage.mostFrames, 4u);
}

TEST(EncoderCorpus, Pillow)
{
    CHECK_CORPUS("pillow", 272, coverage);
    for (const std::size_t size : {32u, 64u, 128u, 256u})
        EXPECT_EQ(coverage.tableSizes.count(size), 1u) << size;
    EXPECT_TRUE(coverage.interlaced && coverage.local);
    EXPECT_GE(coverage.mostFrames, 6u);
}

TEST(EncoderCorpus, Ffmpeg)
{
    CHECK_CORPUS("ffmpeg", 4, coverage);
    EXPECT_TRUE(coverage.local);
    EXPECT_GE(coverage.mostFrames, 4u);
}

TEST(EncoderCorpus, GiflibTools)
{
    CHECK_CORPUS("giflib", 4, coverage);
    EXPECT_TRUE(coverage.interlaced);
}
