// Declarations shared by the GIF reader and decoder: the GIF exception, the block structures as
// stored in the file, the extension record and the byte buffer that holds an image's sub-blocks.
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
constexpr std::int64_t MaxImagePixels = std::int64_t{1} << 26;
constexpr std::int64_t MaxFilePixels = std::int64_t{1} << 28;

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

[[noreturn]] void RaiseListIndexError(std::int64_t index);

// The data sub-blocks of one image, with a sequential reader over all their bytes. Blocks are
// never empty.
class TByteBuffer {
public:
    void AddBlock(const std::string& block)
    {
        Blocks.push_back(block);
        TotalSize += static_cast<std::int32_t>(block.size());
    }
    void AddBlock(std::string&& block)
    {
        TotalSize += static_cast<std::int32_t>(block.size());
        Blocks.push_back(std::move(block));
    }

    // Copy of block n, counted from 1.
    std::string GetBlock(std::int32_t n) const
    {
        if (n < 1 || static_cast<std::size_t>(n) > Blocks.size())
            RaiseListIndexError(static_cast<std::int64_t>(n) - 1);
        return Blocks[static_cast<std::size_t>(n) - 1];
    }

    void Rewind()
    {
        CurrentBlock = GetBlock(1);
        BlockIndex = 1;
        Position = 1;
    }

    std::uint8_t NextByte()
    {
        if (static_cast<std::size_t>(Position) > CurrentBlock.size()) {
            CurrentBlock = GetBlock(BlockIndex + 1);
            ++BlockIndex;
            Position = 1;
        }
        return static_cast<std::uint8_t>(CurrentBlock[static_cast<std::size_t>(Position++) - 1]);
    }

    std::int32_t TotalSize = 0;
    TByteStrings Blocks;
    std::string CurrentBlock;
    std::int32_t BlockIndex = 0;
    std::int32_t Position = 0;
};
