// Declarations shared by the GIF reader and decoder: the GIF exception, the block structures as
// stored in the file, the extension record and the byte buffer that holds an image's sub-blocks.
#pragma once

#include "SysUtils.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
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

// The data sub-blocks of one image, kept as one contiguous run of bytes with the length of each
// block, and a sequential reader over all their bytes. Blocks are never empty.
class TByteBuffer {
public:
    TByteBuffer() = default;
    TByteBuffer(const TByteBuffer&) = delete;
    TByteBuffer& operator=(const TByteBuffer&) = delete;

    void AddBlock(const std::string& block)
    {
        std::memcpy(AppendBlock(static_cast<std::uint8_t>(block.size())), block.data(), block.size());
    }
    // Room for a block of `length` bytes at the end, to be filled by the caller.
    std::uint8_t* AppendBlock(std::uint8_t length);
    // Makes room for `bytes` more bytes at once (false when refused); memory that is never filled
    // is never touched.
    bool Reserve(std::size_t bytes);

    // Copy of block n, counted from 1.
    std::string GetBlock(std::int32_t n) const;
    std::int32_t BlockCount() const { return static_cast<std::int32_t>(BlockLengths.size()); }
    const std::uint8_t* Bytes() const { return Data.get(); }

    void Rewind()
    {
        if (BlockLengths.empty())
            RaiseListIndexError(0);
        BlockIndex = 1;
        Position = 1;
        BlockStart = 0;
    }

    std::uint8_t NextByte()
    {
        if (Position > BlockLengths[static_cast<std::size_t>(BlockIndex) - 1]) {
            if (static_cast<std::size_t>(BlockIndex) >= BlockLengths.size())
                RaiseListIndexError(BlockIndex);
            BlockStart += BlockLengths[static_cast<std::size_t>(BlockIndex) - 1];
            ++BlockIndex;
            Position = 1;
        }
        return Data.get()[BlockStart + static_cast<std::size_t>(Position++) - 1];
    }

    std::int32_t TotalSize = 0;
    std::int32_t BlockIndex = 0; // 1-based block the reader is in
    std::int32_t Position = 0;   // 1-based position of the next byte in that block

private:
    struct TFreeBytes {
        void operator()(std::uint8_t* bytes) const { std::free(bytes); }
    };
    std::unique_ptr<std::uint8_t, TFreeBytes> Data;
    std::size_t Capacity = 0;
    std::vector<std::uint8_t> BlockLengths;
    std::size_t BlockStart = 0; // offset of the reader's block in Data
};
