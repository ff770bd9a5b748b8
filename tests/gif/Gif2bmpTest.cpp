// The gif2bmp tool: the bitmap file of the first image, or the error message and a failure exit.
#include "Classes.h"
#include "GifTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/wait.h>

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int RunTool(const std::string& in, const std::string& out, const std::string& log)
{
    const std::string command = std::string(KABINEX_BINARY_DIR) + "/gif2bmp '" + in + "' '" + out + "' 2>'" + log + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(Gif2bmp, WritesTheBitmapFileOfTheFirstImage)
{
    using giftest::TGifBuilder;
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"5 x 3, two images", TGifBuilder().Header().Screen(true, 3).Colors(16).Image(5, 3, 16, 2, 4).Image(2, 2, 16, 0, 4).Trailer().Bytes()},
        {"701 x 400, more than the write buffer", TGifBuilder().Header().Screen(true, 7).Colors(256).Image(701, 400, 256, 9).Trailer().Bytes()},
        {"0 x 0", TGifBuilder().Header().Screen(true, 0).Colors(2).ImageDescriptor(0, 0).Byte(2).Raw(giftest::SubBlocks(giftest::TCodePacker().Put(5, 3).Bytes())).Trailer().Bytes()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = giftest::WriteTempFile("tool.gif", c.bytes);
        const std::string out = (giftest::TempDir() / "tool.bmp").string();
        ASSERT_EQ(RunTool(in, out, out + ".log"), 0) << ReadAll(out + ".log");
        TGifFile gif;
        gif.LoadFromFile(in);
        TMemoryStream expected;
        WriteBitmapStream(*gif.SubImages[0], expected);
        EXPECT_EQ(ReadAll(out), std::string(expected.Bytes().begin(), expected.Bytes().end()));
    }
}

TEST(Gif2bmp, PrintsTheMessageAndFailsOnABadFile)
{
    const std::string log = (giftest::TempDir() / "tool.log").string();
    EXPECT_NE(RunTool((giftest::TempDir() / "none.gif").string(), "/dev/null", log), 0);
    EXPECT_EQ(ReadAll(log), "Datei nicht gefunden\n");
    const std::string empty = giftest::WriteTempFile("noimage.gif", giftest::TGifBuilder().Header().Screen(true, 0).Colors(2).Trailer().Bytes());
    EXPECT_NE(RunTool(empty, (giftest::TempDir() / "x.bmp").string(), log), 0);
    EXPECT_EQ(ReadAll(log), "Der Index der Liste überschreitet das Maximum (0)\n");
    const std::string good = giftest::WriteTempFile("good.gif", giftest::TGifBuilder().Header().Screen(true, 0).Colors(2).Image(2, 2, 2).Trailer().Bytes());
    EXPECT_NE(RunTool(good, (giftest::TempDir() / "no such dir" / "x.bmp").string(), log), 0);
    EXPECT_EQ(ReadAll(log), "Datei nicht gefunden\n") << "the output's directory is missing";
}
