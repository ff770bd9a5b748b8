// The block reader on files built byte by byte: headers, tables, extensions, images, every
// failure, the model after a failed load, the busy cursor, and loads nested in the row hook.
#include "GifTestSupport.h"

#include <fcntl.h>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using giftest::AllPixels;
using giftest::TGifBuilder;
using giftest::WriteTempFile;
using testing::ElementsAre;

namespace {

class Reader : public testing::Test {
protected:
    void SetUp() override
    {
        SetGifBusyCursorHook([this](bool busy) { cursorCalls.push_back(busy); });
    }
    void TearDown() override
    {
        SetGifBusyCursorHook(nullptr);
        SetGifMessageHook(nullptr);
    }

    // Loads the bytes and returns the message of the exception of type E ("" when none).
    template <typename E = Exception>
    std::string Load(const std::string& bytes, const std::string& name = "test.gif")
    {
        try {
            gif.LoadFromFile(WriteTempFile(name, bytes));
        } catch (const E& error) {
            return error.what();
        }
        return "";
    }

    TGifFile gif;
    std::vector<bool> cursorCalls;
};

TGifBuilder TwoColorFile()
{
    return std::move(TGifBuilder().Header().Screen(true, 0).Colors(2));
}

} // namespace

TEST_F(Reader, AnySignatureWithAnAcceptedVersionPasses)
{
    for (const std::string& header : {std::string("GIF87a"), std::string("xyz89a"), std::string("\0\0\0" "87A", 6)}) {
        EXPECT_EQ(Load(TGifBuilder().Header(header).Screen(true, 0).Colors(2).Trailer().Bytes()), "")
            << header;
        EXPECT_EQ(std::string(gif.Header.Version, 3), header.substr(3));
    }
}

TEST_F(Reader, OtherVersionsFailWithTheVersionMessageAndNoImages)
{
    ASSERT_EQ(Load(TwoColorFile().Image(2, 2, 2, 0, 2).Trailer().Bytes()), "");
    ASSERT_EQ(gif.SubImages.size(), 1u);
    for (const char* header : {"GIF89b", "GIF88a", "GIF89 "}) {
        EXPECT_EQ(Load<EGifException>(TGifBuilder().Header(header).Screen(true, 0).Colors(2).Trailer().Bytes()),
                  "Versión del GIF entre 87a-89a ");
        EXPECT_TRUE(gif.SubImages.empty());
        EXPECT_EQ(std::string(gif.Header.Version, 3), std::string(header + 3));
    }
}

TEST_F(Reader, FileWithoutImagesLoadsItsGlobalTable)
{
    ASSERT_EQ(Load(TGifBuilder().Header().Screen(true, 7).Colors(256, 3).Trailer().Bytes()), "");
    EXPECT_TRUE(gif.SubImages.empty());
    EXPECT_EQ(gif.GlobalColorTable.Count, 256);
    EXPECT_EQ(gif.BitsPerPixel, 8);
    EXPECT_EQ(gif.GlobalColorTable.Colors[10].Red, 13);
    EXPECT_EQ(gif.GlobalColorTable.Colors[255].Blue, 0);
}

TEST_F(Reader, EveryTableSizeFromTwoTo256LoadsForGlobalAndLocalTables)
{
    for (int sizeBits = 0; sizeBits < 8; ++sizeBits) {
        const int colors = 2 << sizeBits;
        const std::vector<std::uint8_t> pixels = {0, static_cast<std::uint8_t>(colors - 1), 1, 0};
        // A global table of this size, then an image with a local table of the same size.
        const std::string bytes = TGifBuilder()
                                      .Header()
                                      .Screen(true, sizeBits)
                                      .Colors(colors)
                                      .ImageDescriptor(2, 2)
                                      .ImageData(pixels, std::max(2, sizeBits + 1))
                                      .ImageDescriptor(2, 2, static_cast<std::uint8_t>(0x80 | sizeBits))
                                      .Colors(colors, 7)
                                      .ImageData(pixels, std::max(2, sizeBits + 1))
                                      .Trailer()
                                      .Bytes();
        ASSERT_EQ(Load(bytes), "") << colors;
        ASSERT_EQ(gif.SubImages.size(), 2u);
        EXPECT_EQ(gif.GlobalColorTable.Count, colors);
        EXPECT_EQ(AllPixels(*gif.SubImages[0]), pixels) << colors;
        const TGifSubImage& local = *gif.SubImages[1];
        EXPECT_EQ(local.LocalColorTable.Count, colors);
        EXPECT_EQ(local.LocalColorTable.Colors[colors - 1].Red, static_cast<std::uint8_t>(colors - 1 + 7)) << colors;
        EXPECT_EQ(AllPixels(local), pixels) << colors;
    }
}

TEST_F(Reader, UnknownExtensionLabelIsNamedInHex)
{
    const std::string bytes = TwoColorFile().Byte(0x21).Byte(0xFA).Byte(0).Trailer().Bytes();
    EXPECT_EQ(Load<EGifException>(bytes), "Unrecognized extension block.\r\nCode = $FA");
    EXPECT_EQ(Load<EGifException>(TwoColorFile().Byte(0x21).Byte(0x0B).Trailer().Bytes()),
              "Unrecognized extension block.\r\nCode = $0B");
}

TEST_F(Reader, UnknownBlockCodeIsNamedInHex)
{
    EXPECT_EQ(Load<EGifException>(TwoColorFile().Image(1, 1, 2, 0, 2).Byte(0x00).Bytes()),
              "Unrecognized block code.\r\nCode = $00");
    EXPECT_EQ(gif.SubImages.size(), 1u) << "the image before the bad block stays";
    EXPECT_EQ(Load<EGifException>(TwoColorFile().Comment("x").Byte(0xAB).Bytes()),
              "Unrecognized block code.\r\nCode = $AB");
}

TEST_F(Reader, ExtensionsBelongToTheNextImageInFileOrder)
{
    TGifBuilder file = TwoColorFile();
    file.Comment(std::string("a\0b", 3)).GraphicControl(4, 1).Image(2, 1, 2, 0, 2);
    file.Byte(0x21).Byte(0xFF).Byte(11).Raw("NETSCAPE2.0").Raw(giftest::SubBlocks(std::string("\x01\x00\x00", 3)));
    file.Byte(0x21).Byte(0x01).Byte(12).Raw(std::string(12, '\x07')).Raw(giftest::SubBlocks("text"));
    file.Image(2, 1, 2, 1, 2).Comment("after the last image").GraphicControl().Trailer();
    ASSERT_EQ(Load(file.Bytes()), "");
    ASSERT_EQ(gif.SubImages.size(), 2u);

    const TExtensionList& first = *gif.SubImages[0]->Extensions;
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0]->ExtensionType, etComment);
    EXPECT_THAT(*first[0]->CommentData, ElementsAre(std::string("a\0b", 3)));
    EXPECT_EQ(first[1]->ExtensionType, etGraphicControl);
    EXPECT_EQ(first[1]->GraphicControlExt.BlockSize, 4);
    EXPECT_EQ(first[1]->GraphicControlExt.DelayTime, 10);
    EXPECT_EQ(first[1]->GraphicControlExt.TransparentColorIndex, 1);

    const TExtensionList& second = *gif.SubImages[1]->Extensions;
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0]->ExtensionType, etApplication);
    EXPECT_EQ(second[0]->ApplicationExt.BlockSize, 11);
    EXPECT_EQ(std::string(second[0]->ApplicationExt.ApplicationIdentifier, 8), "NETSCAPE");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(second[0]->ApplicationExt.AuthenticationCode), 3), "2.0");
    EXPECT_THAT(*second[0]->ApplicationData, ElementsAre(std::string("\x01\x00\x00", 3)));
    EXPECT_EQ(second[1]->ExtensionType, etPlainText);
    EXPECT_EQ(second[1]->PlainTextExt.TextGridLeft, 0x0707);
    EXPECT_THAT(*second[1]->PlainTextData, ElementsAre("text"));
    EXPECT_THAT(AllPixels(*gif.SubImages[1]), ElementsAre(1, 0));
}

TEST_F(Reader, GraphicControlExtensionReadsSixBytesWhateverItsBlockSaysAndMayBeLast)
{
    ASSERT_EQ(Load(TwoColorFile().GraphicControl(200).Image(1, 1, 2, 1, 2).GraphicControl(0).Trailer().Bytes()), "");
    ASSERT_EQ(gif.SubImages.size(), 1u);
    EXPECT_EQ((*gif.SubImages[0]->Extensions)[0]->GraphicControlExt.BlockSize, 200);
}

TEST_F(Reader, LocalTableAfterAGlobalOneIsReadWithItsOwnSize)
{
    TGifBuilder file;
    file.Header().Screen(true, 7).Colors(256).ImageDescriptor(2, 1, 0x80 | 3).Colors(16, 100).ImageData({15, 3}, 4);
    file.Image(1, 1, 256, 9).Trailer();
    ASSERT_EQ(Load(file.Bytes()), "");
    ASSERT_EQ(gif.SubImages.size(), 2u);
    const TGifSubImage& first = *gif.SubImages[0];
    EXPECT_TRUE(first.HasLocalColorTable);
    EXPECT_EQ(first.LocalColorTable.Count, 16);
    EXPECT_EQ(first.LocalColorTable.Colors[15].Red, 115);
    EXPECT_THAT(AllPixels(first), ElementsAre(15, 3));
    EXPECT_THAT(AllPixels(*gif.SubImages[1]), ElementsAre(9));
}

TEST_F(Reader, InterlacedImageIsStoredInImageRowOrder)
{
    // Stored order of rows for height 5: 0, 4, 2, 1, 3.
    ASSERT_EQ(Load(TwoColorFile().ImageDescriptor(1, 5, 0x40).ImageData({0, 4, 2, 1, 3}, 3).Trailer().Bytes()), "");
    EXPECT_THAT(AllPixels(*gif.SubImages[0]), ElementsAre(0, 1, 2, 3, 4));
}

TEST_F(Reader, FileWithoutGlobalTableKeepsTheEarlierColoursWithItsOwnCount)
{
    ASSERT_EQ(Load(TGifBuilder().Header().Screen(true, 3).Colors(16, 50).Trailer().Bytes()), "");
    ASSERT_EQ(Load(TGifBuilder().Header().Screen(false, 1).Image(1, 1, 4, 2, 2).Trailer().Bytes()), "");
    EXPECT_FALSE(gif.HasGlobalColorTable);
    EXPECT_EQ(gif.GlobalColorTable.Count, 4);
    EXPECT_EQ(gif.GlobalColorTable.Colors[5].Red, 55);
    EXPECT_EQ(gif.SubImages[0]->GifFile, &gif);
}

TEST_F(Reader, SecondLoadReplacesTheFirst)
{
    ASSERT_EQ(Load(TwoColorFile().Image(2, 1, 2, 0, 2).Image(2, 1, 2, 1, 2).Image(3, 1, 2, 0, 2).Trailer().Bytes(), "a.gif"), "");
    ASSERT_EQ(gif.SubImages.size(), 3u);
    ASSERT_EQ(Load(TwoColorFile().Image(4, 1, 2, 1, 2).Trailer().Bytes(), "b.gif"), "");
    ASSERT_EQ(gif.SubImages.size(), 1u);
    EXPECT_THAT(AllPixels(*gif.SubImages[0]), ElementsAre(1, 0, 1, 0));
}

TEST_F(Reader, FileCutInsideABlockKeepsTheImagesBeforeIt)
{
    const std::string whole = TwoColorFile().Image(2, 1, 2, 0, 2).Image(2, 1, 2, 1, 2).Trailer().Bytes();
    const std::string cut = whole.substr(0, whole.size() - 4);
    try {
        gif.LoadFromFile(WriteTempFile("cut.gif", cut));
        FAIL() << "no exception";
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.ErrorCode, 100);
        EXPECT_STREQ(error.what(), "Lesen nach Dateiende (EOF)");
    }
    ASSERT_EQ(gif.SubImages.size(), 1u);
    EXPECT_THAT(AllPixels(*gif.SubImages[0]), ElementsAre(0, 1));
    EXPECT_THAT(cursorCalls, ElementsAre(true, false));

    // Cut inside the header: nothing of the new file but what was read completely.
    EXPECT_EQ(Load<EInOutError>(std::string("GIF8")), "Lesen nach Dateiende (EOF)");
    EXPECT_TRUE(gif.SubImages.empty());
}

TEST_F(Reader, MissingFileIsIoErrorTwoAndRestoresTheCursor)
{
    try {
        gif.LoadFromFile((giftest::TempDir() / "does-not-exist.gif").string());
        FAIL() << "no exception";
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.ErrorCode, 2);
        EXPECT_STREQ(error.what(), "Datei nicht gefunden");
    }
    EXPECT_THAT(cursorCalls, ElementsAre(true, false));
}

TEST_F(Reader, DecodingErrorsPassThroughAndDropTheImage)
{
    TGifBuilder file = TwoColorFile();
    file.Image(1, 1, 2, 0, 2).ImageDescriptor(1, 1).Byte(2).Byte(0).Trailer(); // no data sub-blocks
    EXPECT_EQ(Load<EStringListError>(file.Bytes()), "Der Index der Liste überschreitet das Maximum (0)");
    EXPECT_EQ(gif.SubImages.size(), 1u);
    EXPECT_EQ(Load<EGifException>(TwoColorFile().ImageDescriptor(1, 1).ImageData({1}, 11).Trailer().Bytes()),
              "Bad code Size");
}

TEST_F(Reader, FileEndingInsideTheImageDataIsReportedBeforeItsDecodingErrors)
{
    // A code above the next free code in the first sub-block, the file cut in the second one.
    const std::string badCode = giftest::TCodePacker().Put(4, 3).Put(1, 3).Put(7, 3).Bytes();
    const std::string cut = TwoColorFile().ImageDescriptor(4, 1).Byte(2).Byte(static_cast<std::uint8_t>(badCode.size()))
                                .Raw(badCode).Byte(10).Raw("abc").Bytes();
    EXPECT_EQ(Load<EInOutError>(cut), "Lesen nach Dateiende (EOF)");
    EXPECT_EQ(Load<EInOutError>(TwoColorFile().ImageDescriptor(1, 1).Byte(11).Byte(5).Raw("ab").Bytes()),
              "Lesen nach Dateiende (EOF)");
    // Complete, the same data fails with its decoding error.
    EXPECT_EQ(Load<EGifException>(TwoColorFile().ImageDescriptor(4, 1).Byte(2).Raw(giftest::SubBlocks(badCode)).Bytes()),
              "Bad code");
}

TEST_F(Reader, ImageDataWithoutEndCodeEndsTheImageOnceAllItsPixelsAreThere)
{
    // Two frames of 2 x 2 whose data stops after the fourth pixel; the second frame still loads.
    const std::string codes = giftest::TCodePacker().Put(4, 3).Put(1, 3).Put(0, 3).Put(1, 3).Put(0, 3).Bytes();
    TGifBuilder file = TwoColorFile();
    for (int frame = 0; frame < 2; ++frame)
        file.ImageDescriptor(2, 2).Byte(2).Raw(giftest::SubBlocks(codes));
    ASSERT_EQ(Load(file.Trailer().Bytes()), "");
    ASSERT_EQ(gif.SubImages.size(), 2u);
    EXPECT_THAT(AllPixels(*gif.SubImages[1]), ElementsAre(1, 0, 1, 0));
    // A 3 x 2 image is one row short and fails as before, with the number of its blocks.
    const std::string tooFew = TwoColorFile().ImageDescriptor(3, 2).Byte(2).Raw(giftest::SubBlocks(codes)).Trailer().Bytes();
    EXPECT_EQ(Load<EStringListError>(tooFew), "Der Index der Liste überschreitet das Maximum (1)");
}

TEST_F(Reader, FileIsOpenedReadOnlyAndNotInheritedByChildProcesses)
{
    const std::string path = WriteTempFile("readonly.gif", TwoColorFile().Image(2, 2, 2, 0, 2).Trailer().Bytes());
    ::chmod(path.c_str(), 0444);
    int openFlags = -1;
    SetGifMessageHook([&] {
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ignored;
            if (std::filesystem::read_symlink(entry.path(), ignored) == path) {
                const int fd = std::stoi(entry.path().filename().string());
                openFlags = ::fcntl(fd, F_GETFL) | (::fcntl(fd, F_GETFD) & FD_CLOEXEC ? O_CLOEXEC : 0);
            }
        }
    });
    ASSERT_EQ(Load(std::string()), "Lesen nach Dateiende (EOF)") << "sanity: an empty file";
    gif.LoadFromFile(path);
    ASSERT_NE(openFlags, -1);
    EXPECT_EQ(openFlags & O_ACCMODE, O_RDONLY);
    EXPECT_NE(openFlags & O_CLOEXEC, 0);
}

TEST_F(Reader, ImagesOverThePixelLimitsAreRefusedBeforeTheirDataIsRead)
{
    // 65535 x 65535 without any data: refused at its descriptor, the images before it kept.
    const std::string huge = TwoColorFile().Image(2, 2, 2, 0, 2).ImageDescriptor(65535, 65535).Trailer().Bytes();
    EXPECT_EQ(Load<EGifException>(huge),
              "Image too large: 65535 x 65535 pixels, more than the 67108864 pixels allowed for one image");
    EXPECT_EQ(gif.SubImages.size(), 1u);
    EXPECT_EQ(Load<EGifException>(TwoColorFile().ImageDescriptor(8193, 8192).Trailer().Bytes()),
              "Image too large: 8193 x 8192 pixels, more than the 67108864 pixels allowed for one image");

    // At the limit it loads: one image of 8192 x 8192, or 65535 x 1024, four of them per file.
    const auto endOnly = [](TGifBuilder& file, std::uint16_t width, std::uint16_t height) {
        file.ImageDescriptor(width, height).Byte(2).Raw(giftest::SubBlocks(giftest::TCodePacker().Put(5, 3).Bytes()));
    };
    TGifBuilder four = TwoColorFile();
    endOnly(four, 8192, 8192);
    endOnly(four, 65535, 1024);
    endOnly(four, 8192, 8192);
    endOnly(four, 8192, 8192);
    EXPECT_EQ(Load(TGifBuilder(four).Trailer().Bytes()), "");
    EXPECT_EQ(gif.SubImages.size(), 4u);
    endOnly(four, 33, 32); // 1024 pixels are still left
    EXPECT_EQ(Load<EGifException>(four.Trailer().Bytes()),
              "Images too large: the file holds more than the 268435456 pixels allowed for one file");
    EXPECT_EQ(gif.SubImages.size(), 4u);
}

// A selection change while a screenshot decodes: the row hook loads another file into the same
// model. The later load decides what the model holds.
TEST_F(Reader, LoadNestedInTheRowHookWinsAndIsMemorySafe)
{
    const std::string outer = WriteTempFile(
        "outer.gif", TGifBuilder().Header("GIF87a").Screen(true, 3).Colors(16, 7).Image(3, 4, 16, 0, 4).Image(5, 5, 16, 1, 4).Trailer().Bytes());
    const std::string inner = WriteTempFile(
        "inner.gif", TGifBuilder().Header("GIF89a").Screen(true, 0).Colors(2, 1).Image(2, 1, 2, 1, 2).Trailer().Bytes());
    for (int nestAtRow : {1, 3, 6}) { // in the first image, at its last row, in the second image
        int rows = 0;
        SetGifMessageHook([&] {
            if (++rows == nestAtRow)
                gif.LoadFromFile(inner);
        });
        cursorCalls.clear();
        gif.LoadFromFile(outer);
        SetGifMessageHook(nullptr);
        EXPECT_EQ(std::string(gif.Header.Version, 3), "89a") << nestAtRow;
        EXPECT_EQ(gif.GlobalColorTable.Count, 2);
        EXPECT_EQ(gif.GlobalColorTable.Colors[0].Red, 1);
        ASSERT_EQ(gif.SubImages.size(), 1u) << nestAtRow;
        EXPECT_THAT(AllPixels(*gif.SubImages[0]), ElementsAre(1, 0));
        EXPECT_EQ(gif.SubImages[0]->GifFile, &gif);
        EXPECT_THAT(cursorCalls, ElementsAre(true, false)) << "the inner load keeps the busy cursor";
    }
}

TEST_F(Reader, FailedNestedLoadAlsoWins)
{
    const std::string outer = WriteTempFile("outer2.gif", TwoColorFile().Image(2, 3, 2, 0, 2).Trailer().Bytes());
    std::string nestedError;
    SetGifMessageHook([&] {
        SetGifMessageHook(nullptr);
        try {
            gif.LoadFromFile((giftest::TempDir() / "missing.gif").string());
        } catch (const EInOutError& error) {
            nestedError = error.what();
        }
    });
    gif.LoadFromFile(outer);
    EXPECT_EQ(nestedError, "Datei nicht gefunden");
    EXPECT_TRUE(gif.SubImages.empty());
}

TEST_F(Reader, OuterLoadAfterANestedOneReportsItsOwnFailure)
{
    // Three pixels for a 1 by 2 image: the third completes a row the image does not have.
    const std::string outer = WriteTempFile("outer3.gif", TwoColorFile().ImageDescriptor(1, 2).ImageData({1, 1, 1}, 2).Trailer().Bytes());
    const std::string inner = WriteTempFile("inner3.gif", TwoColorFile().Image(1, 1, 2, 1, 2).Trailer().Bytes());
    SetGifMessageHook([&] {
        SetGifMessageHook(nullptr);
        gif.LoadFromFile(inner);
    });
    EXPECT_THROW(gif.LoadFromFile(outer), EIndexOutOfBounds);
    ASSERT_EQ(gif.SubImages.size(), 1u);
    EXPECT_THAT(AllPixels(*gif.SubImages[0]), ElementsAre(1));
    EXPECT_THAT(cursorCalls, ElementsAre(true, false));
}
