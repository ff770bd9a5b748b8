// Test support: an image's data sub-blocks held in memory, written block by block by a test, and
// a sub-image that decodes them. The program itself never holds an image's compressed data: its
// reader feeds the decoder straight from the file.
#pragma once

#include "GifUnit.h"

#include <cstdint>
#include <string>
#include <vector>

namespace giftest {

// The data sub-blocks of one image, kept as one contiguous run of bytes with the length of each
// block, and a sequential reader over all their bytes. Blocks are never empty. A missing block
// fails with the string list's index error, naming its 0-based number.
class TByteBuffer {
public:
    void AddBlock(const std::string& block)
    {
        Data.insert(Data.end(), block.begin(), block.end());
        BlockLengths.push_back(static_cast<std::uint8_t>(block.size()));
        TotalSize += static_cast<std::int32_t>(block.size());
    }

    // Copy of block n, counted from 1.
    std::string GetBlock(std::int32_t n) const
    {
        if (n < 1 || n > BlockCount())
            RaiseListIndexError(static_cast<std::int64_t>(n) - 1);
        std::size_t start = 0;
        for (std::int32_t i = 0; i + 1 < n; ++i)
            start += BlockLengths[static_cast<std::size_t>(i)];
        return {reinterpret_cast<const char*>(Data.data()) + start, BlockLengths[static_cast<std::size_t>(n) - 1]};
    }
    std::int32_t BlockCount() const { return static_cast<std::int32_t>(BlockLengths.size()); }
    const std::uint8_t* Bytes() const { return Data.data(); }

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
        return Data[BlockStart + static_cast<std::size_t>(Position++) - 1];
    }

    std::int32_t TotalSize = 0;
    std::int32_t BlockIndex = 0; // 1-based block the reader is in
    std::int32_t Position = 0;   // 1-based position of the next byte in that block

private:
    std::vector<std::uint8_t> Data;
    std::vector<std::uint8_t> BlockLengths;
    std::size_t BlockStart = 0; // offset of the reader's block in Data
};

// The whole buffer as one run.
class TByteBufferSource : public TCompressedSource {
public:
    explicit TByteBufferSource(const TByteBuffer& data) : data_(data) {}
    bool NextRun(const std::uint8_t*& begin, const std::uint8_t*& end) override
    {
        if (given_ || data_.TotalSize == 0)
            return false;
        given_ = true;
        begin = data_.Bytes();
        end = begin + data_.TotalSize;
        return true;
    }
    std::int32_t BlockCount() const override { return data_.BlockCount(); }

private:
    const TByteBuffer& data_;
    bool given_ = false;
};

// A sub-image with its compressed data in memory. Without any data it fails with the buffer's
// error for block 0, as data that ends before the first code does.
class TImageForDecoding : public TGifSubImage {
public:
    using TGifSubImage::Decompress;
    using TGifSubImage::TGifSubImage;

    // Decodes CompressedData into Pixels.
    void Decompress()
    {
        TByteBufferSource source(CompressedData);
        Decompress(source);
    }

    TByteBuffer CompressedData;
};

} // namespace giftest
