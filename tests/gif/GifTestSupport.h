// Helpers of the GIF tests: an LZW code packer, a byte-by-byte GIF builder, temporary files and
// a sub-image set up for decoding alone (ByteBuffer.h).
#pragma once

#include "ByteBuffer.h"
#include "GifUnit.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace giftest {

// Packs codes least significant bit first, as GIF stores them.
class TCodePacker {
public:
    TCodePacker& Put(unsigned code, int width)
    {
        for (int bit = 0; bit < width; ++bit) {
            if (bitCount_ % 8 == 0)
                bytes_.push_back('\0');
            if ((code >> bit) & 1)
                bytes_.back() = static_cast<char>(bytes_.back() | (1 << (bitCount_ % 8)));
            ++bitCount_;
        }
        return *this;
    }
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
    int bitCount_ = 0;
};

// Writes a code stream the way an encoder does, tracking the code width: a clear code first,
// then one literal code per pixel (each but the first after a clear adds a table entry).
inline std::string LiteralStream(const std::vector<std::uint8_t>& pixels, int minCodeSize)
{
    const unsigned clear = 1u << minCodeSize;
    TCodePacker packer;
    int width = minCodeSize + 1;
    unsigned freeCode = clear + 2;
    bool first = true;
    packer.Put(clear, width);
    for (std::uint8_t pixel : pixels) {
        packer.Put(pixel, width);
        if (first) {
            first = false;
            continue;
        }
        ++freeCode;
        if (freeCode >= 4095) {
            // Clear one entry early, as giflib does, so that a stream may end at any pixel.
            packer.Put(clear, width);
            width = minCodeSize + 1;
            freeCode = clear + 2;
            first = true;
        } else if (freeCode >= (1u << width) && width < 12) {
            ++width;
        }
    }
    packer.Put(clear + 1, width);
    return packer.Bytes();
}

// Data sub-blocks: length-prefixed chunks of at most 255 bytes and the zero terminator.
inline std::string SubBlocks(const std::string& data)
{
    std::string out;
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::string chunk = data.substr(at, 255);
        out += static_cast<char>(chunk.size());
        out += chunk;
    }
    out += '\0';
    return out;
}

// Builds a GIF file byte by byte.
class TGifBuilder {
public:
    TGifBuilder& Raw(const std::string& bytes)
    {
        bytes_ += bytes;
        return *this;
    }
    TGifBuilder& Byte(std::uint8_t value)
    {
        bytes_ += static_cast<char>(value);
        return *this;
    }
    TGifBuilder& Word(std::uint16_t value) { return Byte(value & 0xFF).Byte(value >> 8); }
    TGifBuilder& Header(const std::string& sixBytes = "GIF89a") { return Raw(sixBytes); }
    // Logical screen descriptor; a global table of 2^(sizeBits+1) colours when globalTable.
    TGifBuilder& Screen(bool globalTable, int sizeBits, std::uint16_t width = 10, std::uint16_t height = 10)
    {
        return Word(width).Word(height).Byte((globalTable ? 0x80 : 0) | 0x70 | sizeBits).Byte(0).Byte(0);
    }
    // count entries; entry i is (i + shift, 2 * i, 255 - i) truncated to bytes.
    TGifBuilder& Colors(int count, int shift = 0)
    {
        for (int i = 0; i < count; ++i)
            Byte(static_cast<std::uint8_t>(i + shift)).Byte(static_cast<std::uint8_t>(2 * i)).Byte(static_cast<std::uint8_t>(255 - i));
        return *this;
    }
    TGifBuilder& ImageDescriptor(std::uint16_t width, std::uint16_t height, std::uint8_t flags = 0)
    {
        return Byte(GifImageSeparator).Word(0).Word(0).Word(width).Word(height).Byte(flags);
    }
    TGifBuilder& ImageData(const std::vector<std::uint8_t>& pixels, int minCodeSize)
    {
        return Byte(static_cast<std::uint8_t>(minCodeSize)).Raw(SubBlocks(LiteralStream(pixels, minCodeSize)));
    }
    // A whole image without local table whose pixel i is (i + seed) % colors.
    TGifBuilder& Image(std::uint16_t width, std::uint16_t height, int colors, int seed = 0, int minCodeSize = 8)
    {
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<std::uint8_t>((i + seed) % colors);
        return ImageDescriptor(width, height).ImageData(pixels, minCodeSize);
    }
    TGifBuilder& Comment(const std::string& text) { return Byte(GifExtensionIntroducer).Byte(CommentLabel).Raw(SubBlocks(text)); }
    TGifBuilder& GraphicControl(std::uint8_t blockSize = 4, std::uint8_t transparent = 0)
    {
        return Byte(GifExtensionIntroducer).Byte(GraphicControlLabel).Byte(blockSize).Byte(1).Word(10).Byte(transparent).Byte(0);
    }
    TGifBuilder& Trailer() { return Byte(GifTrailer); }
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// A directory of its own per test binary run, removed at exit.
inline std::filesystem::path TempDir()
{
    struct TDir {
        std::filesystem::path path;
        TDir()
        {
            path = std::filesystem::temp_directory_path() / ("kbx_gif_test_" + std::to_string(::getpid()));
            std::filesystem::create_directories(path);
        }
        ~TDir()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static TDir dir;
    return dir.path;
}

inline std::string WriteTempFile(const std::string& name, const std::string& bytes)
{
    const std::filesystem::path path = TempDir() / name;
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

// A sub-image of the given size holding code stream `data` (split into sub-blocks), ready for
// Decompress.
inline std::unique_ptr<TImageForDecoding> ImageForDecoding(TGifFile& owner, std::uint16_t width, std::uint16_t height,
                                                           std::uint8_t minCodeSize, const std::string& data,
                                                           bool interlaced = false)
{
    auto image = std::make_unique<TImageForDecoding>(256, &owner);
    image->ImageDescriptor.ImageWidth = width;
    image->ImageDescriptor.ImageHeight = height;
    image->Interlaced = interlaced;
    image->MinCodeSize = minCodeSize;
    image->Pixels = std::make_unique<TByteArray2D>(width, height);
    for (std::size_t at = 0; at < data.size(); at += 255)
        image->CompressedData.AddBlock(data.substr(at, 255));
    return image;
}

inline std::vector<std::uint8_t> AllPixels(const TGifSubImage& image)
{
    const TBigByteArray& items = *image.Pixels->Items;
    return std::vector<std::uint8_t>(items.Memory(), items.Memory() + items.Size);
}

} // namespace giftest
