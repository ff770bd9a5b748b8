// Declarations shared by the GIF reader and decoder: the GIF exception, the codes that open the
// blocks of a GIF stream, the block structures as stored in the file, the extension record and the
// error for image data that ends too early.
#pragma once

#include "SysUtils.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class EGifException : public Exception {
public:
    using Exception::Exception;
};

// Pixel limits of the reader, checked before a pixel matrix is allocated. One image may hold up
// to 8192 x 8192 pixels (a screenshot is far smaller; 65535 x 1024 also fits); all images of one
// file together up to four times that, which still holds some 870 frames of 640 x 480. Every
// image within them has a bitmap file of under 2 GiB (at most 65535 x 1024 with row padding).
// The fuzz target builds with a far lower image limit: every allocation it makes is then
// recycled memory, and the code reached is the same.
#ifndef KABINEX_GIF_MAX_IMAGE_PIXELS
#define KABINEX_GIF_MAX_IMAGE_PIXELS (std::int64_t{1} << 26)
#endif
constexpr std::int64_t MaxImagePixels = KABINEX_GIF_MAX_IMAGE_PIXELS;
constexpr std::int64_t MaxFilePixels = 4 * MaxImagePixels;

// The byte that opens each block of the stream after the colour table, and the label byte that
// follows an extension introducer.
constexpr std::uint8_t GifExtensionIntroducer = 0x21;
constexpr std::uint8_t GifImageSeparator = 0x2C;
constexpr std::uint8_t GifTrailer = 0x3B;
constexpr std::uint8_t GraphicControlLabel = 0xF9;
constexpr std::uint8_t CommentLabel = 0xFE;
constexpr std::uint8_t PlainTextLabel = 0x01;
constexpr std::uint8_t ApplicationLabel = 0xFF;

// An ordered list of byte strings, each held byte for byte.
using TByteStrings = std::vector<std::string>;

struct TGifHeader {
    char Signature[3] = {'G', 'I', 'F'};
    char Version[3] = {'8', '7', 'a'};
};

struct TLogicalScreenDescriptor {
    std::uint16_t ScreenWidth = 0;
    std::uint16_t ScreenHeight = 0;
    std::uint8_t PackedFields = 0;
    std::uint8_t BackgroundColorIndex = 0;
    std::uint8_t AspectRatio = 0;
};

struct TImageDescriptor {
    std::uint16_t ImageLeft = 0;
    std::uint16_t ImageTop = 0;
    std::uint16_t ImageWidth = 0;
    std::uint16_t ImageHeight = 0;
    std::uint8_t PackedFields = 0;
};

enum TExtensionType { etGraphicControl = 0, etPlainText = 1, etApplication = 2, etComment = 3 };

struct TGraphicControlExt {
    std::uint8_t BlockSize;
    std::uint8_t PackedFields;
    std::uint16_t DelayTime;
    std::uint8_t TransparentColorIndex;
    std::uint8_t Terminator;
};

struct TPlainTextExt {
    std::uint8_t BlockSize;
    std::uint16_t TextGridLeft;
    std::uint16_t TextGridTop;
    std::uint16_t TextGridWidth;
    std::uint16_t TextGridHeight;
    std::uint8_t CellWidth;
    std::uint8_t CellHeight;
    std::uint8_t TextForegroundColorIndex;
    std::uint8_t TextBackgroundColorIndex;
};

struct TApplicationExt {
    std::uint8_t BlockSize;
    char ApplicationIdentifier[8];
    std::uint8_t AuthenticationCode[3];
};

// One extension block. Only the header alternative selected by ExtensionType is meaningful, and
// only the data list of that kind is present.
class TExtension {
public:
    TExtension() : GraphicControlExt{} {}

    TExtensionType ExtensionType = etGraphicControl;
    union {
        TGraphicControlExt GraphicControlExt;
        TPlainTextExt PlainTextExt;
        TApplicationExt ApplicationExt;
    };
    std::unique_ptr<TByteStrings> PlainTextData;
    std::unique_ptr<TByteStrings> ApplicationData;
    std::unique_ptr<TByteStrings> CommentData;
};

using TExtensionList = std::vector<std::unique_ptr<TExtension>>;

// The string list's index error, with the 0-based index: the error of image data that ends
// before it should, naming the number of its sub-blocks.
[[noreturn]] void RaiseListIndexError(std::int64_t index);
