#include "GifUnit.h"

#include <cerrno>
#include <cstring>

namespace {

std::function<void()>& MessageHookSlot()
{
    static std::function<void()> hook;
    return hook;
}

std::function<void(bool)>& BusyCursorHookSlot()
{
    static std::function<void(bool)> hook;
    return hook;
}

// Shows the busy cursor while at least one load runs; a load nested in the row hook must not
// restore the default cursor under the load that is still running.
class TBusyCursorScope {
public:
    TBusyCursorScope()
    {
        if (Depth()++ == 0 && BusyCursorHookSlot())
            BusyCursorHookSlot()(true);
    }
    ~TBusyCursorScope()
    {
        if (--Depth() == 0 && BusyCursorHookSlot())
            BusyCursorHookSlot()(false);
    }
    TBusyCursorScope(const TBusyCursorScope&) = delete;
    TBusyCursorScope& operator=(const TBusyCursorScope&) = delete;

private:
    static int& Depth()
    {
        static int depth = 0;
        return depth;
    }
};

// Read-only, so that a write-protected screenshot is shown; close-on-exec, so that the emulator
// started while a load runs does not inherit the handle.
TFileHandle OpenForReading(const std::string& fileName)
{
    std::FILE* file = std::fopen(fileName.c_str(), "rbe");
    if (file == nullptr)
        throw EInOutError(IoCodeFromErrno(errno));
    // The reader asks for a byte or a sub-block at a time; a larger buffer saves system calls.
    std::setvbuf(file, nullptr, _IOFBF, 1 << 16);
    return TFileHandle(file);
}

void ReadExact(std::FILE* file, void* buffer, std::size_t count)
{
    if (count == 0)
        return;
    errno = 0;
    // The file belongs to this load alone: no stream locking needed.
    if (fread_unlocked(buffer, 1, count, file) == count)
        return;
    if (std::ferror(file))
        throw EInOutError(IoCodeFromErrno(errno != 0 ? errno : EIO));
    throw EInOutError(100);
}

std::uint8_t ReadByte(std::FILE* file)
{
    const int value = getc_unlocked(file);
    if (value != EOF)
        return static_cast<std::uint8_t>(value);
    std::uint8_t byte;
    ReadExact(file, &byte, 1); // reports the end of the file or the read error
    return byte;
}

std::uint16_t Word(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

void ReadColors(std::FILE* file, TColorTable& table)
{
    std::uint8_t bytes[256 * 3];
    const auto count = static_cast<std::size_t>(table.Count) * 3;
    ReadExact(file, bytes, count);
    std::memcpy(table.Colors, bytes, count);
}

std::string HexByte(std::uint8_t value)
{
    static const char digits[] = "0123456789ABCDEF";
    return {digits[value >> 4], digits[value & 15]};
}

void ReadExtensionBody(std::FILE* file, TExtension& extension, std::uint8_t label)
{
    std::uint8_t b[13];
    switch (label) {
    case GraphicControlLabel:
        ReadExact(file, b, 6);
        extension.ExtensionType = etGraphicControl;
        extension.GraphicControlExt = {b[0], b[1], Word(b + 2), b[4], b[5]};
        break;
    case PlainTextLabel:
        ReadExact(file, b, 13);
        extension.ExtensionType = etPlainText;
        extension.PlainTextExt = {b[0], Word(b + 1), Word(b + 3), Word(b + 5), Word(b + 7), b[9], b[10], b[11], b[12]};
        extension.PlainTextData = ReadDataSubBlocks(file);
        break;
    case ApplicationLabel:
        ReadExact(file, b, 12);
        extension.ExtensionType = etApplication;
        extension.ApplicationExt.BlockSize = b[0];
        std::memcpy(extension.ApplicationExt.ApplicationIdentifier, b + 1, 8);
        std::memcpy(extension.ApplicationExt.AuthenticationCode, b + 9, 3);
        extension.ApplicationData = ReadDataSubBlocks(file);
        break;
    case CommentLabel:
        extension.ExtensionType = etComment;
        extension.CommentData = ReadDataSubBlocks(file);
        break;
    default:
        throw EGifException("Unrecognized extension block.\r\nCode = $" + HexByte(label));
    }
}

// Every table size that GIF can declare, 2 to 256.
std::uint8_t BitsForColorCount(std::uint16_t colorCount)
{
    for (std::uint8_t bits = 1; bits <= 8; ++bits)
        if (colorCount == 1u << bits)
            return bits;
    throw EGifException("Number of colors must be 2, 4, 8, 16 or 256");
}

// An image's data sub-blocks, read into a buffer of its own and handed out as runs of whole
// blocks.
class TSubBlockReader : public TCompressedSource {
public:
    explicit TSubBlockReader(std::FILE* file) : file_(file) {}

    bool NextRun(const std::uint8_t*& begin, const std::uint8_t*& end) override
    {
        std::size_t size = 0;
        while (!ended_ && size + 255 <= sizeof buffer_) {
            const std::uint8_t length = Read(nullptr, 0);
            if (length == 0)
                break;
            Read(buffer_ + size, length);
            size += length;
            ++blocks_;
        }
        begin = buffer_;
        end = buffer_ + size;
        return size > 0;
    }

    std::int32_t BlockCount() const override { return blocks_; }

    // Reads the blocks that the decoder did not take, up to and with the terminator; nothing
    // more once a read has failed.
    void SkipRest()
    {
        while (!ended_ && !failed_) {
            const std::uint8_t length = Read(nullptr, 0);
            if (length != 0)
                Read(buffer_, length);
        }
    }

private:
    // Reads `count` bytes into `into`, or with count 0 one length byte (the terminator ends the
    // data); a failed read is remembered.
    std::uint8_t Read(std::uint8_t* into, std::size_t count)
    {
        try {
            if (count > 0) {
                ReadExact(file_, into, count);
                return 0;
            }
            const std::uint8_t length = ReadByte(file_);
            ended_ = length == 0;
            return length;
        } catch (...) {
            failed_ = true;
            throw;
        }
    }

    std::FILE* file_;
    bool ended_ = false;
    bool failed_ = false;
    std::int32_t blocks_ = 0;
    std::uint8_t buffer_[1 << 14];
};

void CheckPixelLimits(const TImageDescriptor& descriptor, std::int64_t filePixelsLeft)
{
    const std::int64_t pixels = std::int64_t{descriptor.ImageWidth} * descriptor.ImageHeight;
    if (pixels > MaxImagePixels)
        throw EGifException("Image too large: " + std::to_string(descriptor.ImageWidth) + " x " +
                            std::to_string(descriptor.ImageHeight) + " pixels, more than the " +
                            std::to_string(MaxImagePixels) + " pixels allowed for one image");
    if (pixels > filePixelsLeft)
        throw EGifException("Images too large: the file holds more than the " + std::to_string(MaxFilePixels) +
                            " pixels allowed for one file");
}

} // namespace

void SetGifMessageHook(std::function<void()> hook)
{
    MessageHookSlot() = std::move(hook);
}

void SetGifBusyCursorHook(std::function<void(bool busy)> hook)
{
    BusyCursorHookSlot() = std::move(hook);
}

const std::function<void()>& GifMessageHook()
{
    return MessageHookSlot();
}

std::unique_ptr<TByteStrings> ReadDataSubBlocks(std::FILE* file)
{
    auto blocks = std::make_unique<TByteStrings>();
    for (;;) {
        const std::uint8_t length = ReadByte(file);
        if (length == 0)
            return blocks;
        std::string block(length, '\0');
        ReadExact(file, block.data(), length);
        blocks->push_back(std::move(block));
    }
}

// ---- TGifSubImage ----------------------------------------------------------------------------

TGifSubImage::TGifSubImage(std::uint16_t colorCount, TGifFile* owner)
    : GifFile(owner),
      Extensions(std::make_unique<TExtensionList>()),
      Pixels(std::make_unique<TByteArray2D>(0, 0))
{
    BitsPerPixel = BitsForColorCount(colorCount);
    MinCodeSize = BitsPerPixel == 1 ? 2 : BitsPerPixel;
    InitColorTable(LocalColorTable, colorCount);
    EncodeImageFlags();
}

void TGifSubImage::EncodeImageFlags()
{
    std::uint8_t flags = 0;
    if (HasLocalColorTable)
        flags |= 0x80 | ((BitsPerPixel - 1) & 7);
    if (Interlaced)
        flags |= 0x40;
    ImageDescriptor.PackedFields = flags;
}

void TGifSubImage::DecodeImageFlags()
{
    const std::uint8_t flags = ImageDescriptor.PackedFields;
    HasLocalColorTable = (flags & 0x80) != 0;
    Interlaced = (flags & 0x40) != 0;
    BitsPerPixel = static_cast<std::uint8_t>((flags & 7) + 1);
    LocalColorTable.Count = 1 << BitsPerPixel;
}

void TGifSubImage::ReadImage(std::FILE* file, std::int64_t filePixelsLeft)
{
    ReadImageDescriptor(file);
    CheckPixelLimits(ImageDescriptor, filePixelsLeft);
    ReadLocalColorTable(file);
    Pixels = std::make_unique<TByteArray2D>(ImageDescriptor.ImageWidth, ImageDescriptor.ImageHeight);
    ReadImageData(file);
}

void TGifSubImage::ReadImageDescriptor(std::FILE* file)
{
    std::uint8_t b[9];
    ReadExact(file, b, 9);
    ImageDescriptor = {Word(b), Word(b + 2), Word(b + 4), Word(b + 6), b[8]};
    DecodeImageFlags();
}

void TGifSubImage::ReadLocalColorTable(std::FILE* file)
{
    if (HasLocalColorTable)
        ReadColors(file, LocalColorTable);
}

// The data is decoded while its sub-blocks are read, so that it is never held whole in memory.
// What the file says still comes first: after a decoding error the rest of the data is read, and
// a file that ends inside it fails as such.
void TGifSubImage::ReadImageData(std::FILE* file)
{
    MinCodeSize = ReadByte(file);
    TSubBlockReader source(file);
    try {
        Decompress(source);
    } catch (const Exception&) {
        source.SkipRest();
        throw;
    }
    source.SkipRest(); // anything after the end code
}

// ---- TGifFile --------------------------------------------------------------------------------

TGifFile::TGifFile()
{
    InitColorTable(GlobalColorTable, 2);
}

void TGifFile::DecodeScreenFlags()
{
    const std::uint8_t flags = ScreenDescriptor.PackedFields;
    HasGlobalColorTable = (flags & 0x80) != 0;
    BitsPerPixel = static_cast<std::uint8_t>((flags & 7) + 1);
    GlobalColorTable.Count = 1 << BitsPerPixel;
}

// The load reads into a staging model that starts from this model's file fields (a file without
// a global table keeps the earlier colours) and is committed when the load ends, on success and
// on failure alike. Only the staging objects are touched while the row hook may run, so a load
// nested in that hook cannot pull anything from under this one; when such a later load has
// started, it alone decides the model and this load stops at the next image boundary.
void TGifFile::LoadFromFile(const std::string& fileName)
{
    Load([&fileName] { return OpenForReading(fileName); });
}

void TGifFile::LoadFromMemory(const std::uint8_t* data, std::size_t size)
{
    Load([data, size] {
        // A read-only stream over the bytes, so that both loads share every step.
        std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
        if (file == nullptr)
            throw EInOutError(IoCodeFromErrno(errno));
        return TFileHandle(file);
    });
}

void TGifFile::Load(const std::function<TFileHandle()>& open)
{
    TBusyCursorScope busyCursor;
    const unsigned generation = ++LoadGeneration;
    const std::function<bool()> superseded = [this, generation] { return LoadGeneration != generation; };
    SubImages.clear();

    TGifFile staging;
    staging.CopyFileFieldsFrom(*this);
    try {
        TFileHandle file = open();
        staging.ReadContents(file.get(), superseded);
    } catch (...) {
        if (!superseded())
            Commit(staging);
        throw;
    }
    if (!superseded())
        Commit(staging);
}

void TGifFile::ReadContents(std::FILE* file, const std::function<bool()>& superseded)
{
    ReadHeader(file);
    ReadScreenDescriptor(file);
    ReadGlobalColorTable(file);
    std::uint8_t blockCode = ReadByte(file);
    std::int64_t pixelsLeft = MaxFilePixels;
    while (blockCode != GifTrailer) {
        std::unique_ptr<TExtensionList> extensions = ReadExtensions(file, blockCode);
        if (blockCode == GifImageSeparator) {
            auto image = std::make_unique<TGifSubImage>(static_cast<std::uint16_t>(GlobalColorTable.Count), this);
            image->Extensions = std::move(extensions);
            image->ReadImage(file, pixelsLeft);
            pixelsLeft -= std::int64_t{image->ImageDescriptor.ImageWidth} * image->ImageDescriptor.ImageHeight;
            SubImages.push_back(std::move(image));
            if (superseded())
                return;
            blockCode = ReadByte(file);
        } else if (blockCode != GifTrailer) {
            throw EGifException("Unrecognized block code.\r\nCode = $" + HexByte(blockCode));
        }
    }
}

void TGifFile::ReadHeader(std::FILE* file)
{
    std::uint8_t b[6];
    ReadExact(file, b, 6);
    std::memcpy(Header.Signature, b, 3);
    std::memcpy(Header.Version, b + 3, 3);
    const std::string version(Header.Version, 3);
    if (version != "87a" && version != "89a" && version != "87A" && version != "89A")
        throw EGifException("Versión del GIF entre 87a-89a ");
}

void TGifFile::ReadScreenDescriptor(std::FILE* file)
{
    std::uint8_t b[7];
    ReadExact(file, b, 7);
    ScreenDescriptor = {Word(b), Word(b + 2), b[4], b[5], b[6]};
    DecodeScreenFlags();
}

void TGifFile::ReadGlobalColorTable(std::FILE* file)
{
    if (HasGlobalColorTable)
        ReadColors(file, GlobalColorTable);
}

std::unique_ptr<TExtensionList> TGifFile::ReadExtensions(std::FILE* file, std::uint8_t& blockCode)
{
    auto extensions = std::make_unique<TExtensionList>();
    while (blockCode == GifExtensionIntroducer) {
        extensions->push_back(std::make_unique<TExtension>());
        const std::uint8_t label = ReadByte(file);
        ReadExtensionBody(file, *extensions->back(), label);
        blockCode = ReadByte(file);
    }
    return extensions;
}

void TGifFile::CopyFileFieldsFrom(const TGifFile& other)
{
    Header = other.Header;
    ScreenDescriptor = other.ScreenDescriptor;
    HasGlobalColorTable = other.HasGlobalColorTable;
    GlobalColorTable = other.GlobalColorTable;
    BitsPerPixel = other.BitsPerPixel;
}

void TGifFile::Commit(TGifFile& staging)
{
    CopyFileFieldsFrom(staging);
    SubImages = std::move(staging.SubImages);
    for (auto& image : SubImages)
        image->GifFile = this;
}

const TGifSubImage& FirstSubImage(const TGifFile& gif)
{
    if (gif.SubImages.empty())
        throw EListError("Der Index der Liste überschreitet das Maximum (0)");
    return *gif.SubImages.front();
}
