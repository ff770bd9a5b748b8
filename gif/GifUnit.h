// The GIF file model, its block reader and LZW decoder, and the conversion of the first image
// into an 8-bit bitmap file. An image's compressed data is not kept in the model: the decoder
// takes it from a TCompressedSource, which the reader feeds straight from the file's sub-blocks.
#pragma once

#include "ColorTbl.h"
#include "DynArrB.h"
#include "GifDecl.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFileHandle = std::unique_ptr<std::FILE, TFileCloser>;

// The compressed bytes of one image, handed to the decoder run after run.
class TCompressedSource {
public:
    virtual ~TCompressedSource() = default;
    // The next run of bytes; false once the data has ended.
    virtual bool NextRun(const std::uint8_t*& begin, const std::uint8_t*& end) = 0;
    // The number of data sub-blocks, named by the error for data that ends too early.
    virtual std::int32_t BlockCount() const = 0;
};

class TBitmap;
class TMemoryStream;
class TGifFile;

// Run once per decoded pixel row so that the application can process waiting window messages.
// No-op while unset.
void SetGifMessageHook(std::function<void()> hook);
// Shows (true) or restores (false) the busy cursor around LoadFromFile. No-op while unset.
void SetGifBusyCursorHook(std::function<void(bool busy)> hook);

class TGifSubImage {
public:
    TGifSubImage(std::uint16_t colorCount, TGifFile* owner);
    TGifSubImage(const TGifSubImage&) = delete;
    TGifSubImage& operator=(const TGifSubImage&) = delete;

    // Refuses an image over MaxImagePixels, or over what the file may still hold, before its
    // pixel matrix is allocated.
    void ReadImage(std::FILE* file, std::int64_t filePixelsLeft = MaxFilePixels);
    // Decodes the bytes of `source` into Pixels; a MinCodeSize outside 2 to 9 is refused before
    // any byte is read.
    void Decompress(TCompressedSource& source);
    void EncodeImageFlags();
    void DecodeImageFlags();

    TGifFile* GifFile;
    std::uint8_t MinCodeSize = 0;
    TImageDescriptor ImageDescriptor;
    bool Interlaced = false;
    bool HasLocalColorTable = false;
    std::unique_ptr<TExtensionList> Extensions;
    std::uint8_t BitsPerPixel = 0;
    std::unique_ptr<TByteArray2D> Pixels;
    TColorTable LocalColorTable;

private:
    void ReadImageDescriptor(std::FILE* file);
    void ReadLocalColorTable(std::FILE* file);
    void ReadImageData(std::FILE* file);
};

using TSubImageList = std::vector<std::unique_ptr<TGifSubImage>>;

class TGifFile {
public:
    TGifFile();
    TGifFile(const TGifFile&) = delete;
    TGifFile& operator=(const TGifFile&) = delete;

    // Reads and decodes every image of the file. A load started from the row hook while this one
    // runs (on the same model) wins: the model then holds what that later load left.
    void LoadFromFile(const std::string& fileName);
    // The same load from a GIF file held in memory.
    void LoadFromMemory(const std::uint8_t* data, std::size_t size);
    // A new bitmap of the image at index 0; the caller owns it.
    std::unique_ptr<TBitmap> AsBitmap() const;
    void DecodeScreenFlags();

    TGifHeader Header;
    TLogicalScreenDescriptor ScreenDescriptor;
    bool HasGlobalColorTable = true;
    TColorTable GlobalColorTable;
    std::uint8_t BitsPerPixel = 1;
    TSubImageList SubImages;

private:
    void Load(const std::function<TFileHandle()>& open);
    void ReadContents(std::FILE* file, const std::function<bool()>& superseded);
    void ReadHeader(std::FILE* file);
    void ReadScreenDescriptor(std::FILE* file);
    void ReadGlobalColorTable(std::FILE* file);
    std::unique_ptr<TExtensionList> ReadExtensions(std::FILE* file, std::uint8_t& blockCode);
    void CopyFileFieldsFrom(const TGifFile& other);
    void Commit(TGifFile& staging);

    unsigned LoadGeneration = 0; // counts loads started on this model
};

// A new list with the data sub-blocks from the current file position, terminator consumed.
std::unique_ptr<TByteStrings> ReadDataSubBlocks(std::FILE* file);

// The 40-byte information header of an image's bitmap file, in file byte order.
struct TBitmapInfoHeader {
    std::uint8_t Bytes[40];
};
void FillBitmapInfoHeader(const TGifSubImage& image, TBitmapInfoHeader& header);
// The colour table an image's bitmap takes its palette from: its local table, else the file's.
const TColorTable& BitmapColorTable(const TGifSubImage& image);
// Writes the whole 8-bit bitmap file of the image from position 0 and leaves the stream at 0.
void WriteBitmapStream(const TGifSubImage& image, TMemoryStream& stream);
// Hands the bytes of the same file to `write` in order and in pieces (the headers and palette,
// then each row and its padding), so that a caller can write them on without holding them all.
void WriteBitmapFile(const TGifSubImage& image, const std::function<void(const void* bytes, std::size_t count)>& write);

// The image at index 0, or the list index error when the model holds no image.
const TGifSubImage& FirstSubImage(const TGifFile& gif);

// The hook as currently set (empty when unset); the decoder takes a copy per image.
const std::function<void()>& GifMessageHook();
