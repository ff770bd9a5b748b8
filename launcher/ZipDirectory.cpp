#include "ZipDirectory.h"

#include <fstream>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::uint32_t EndSignature = 0x06054b50;
constexpr std::uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t Zip64EndSignature = 0x06064b50;
constexpr std::uint32_t EntrySignature = 0x02014b50;
constexpr std::size_t EndRecordSize = 22;
constexpr std::size_t MaxCommentSize = 0xFFFF;
constexpr std::size_t EntryHeaderSize = 46;
constexpr std::uint32_t Zip64Marker = 0xFFFFFFFF;
constexpr std::uint64_t EncryptedFlag = 0x0001; // bit 0 of the general purpose flags

std::uint64_t Little(const Bytes& bytes, std::size_t at, int count)
{
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[at + i];
    return value;
}

// The archive's bytes, from a file or from memory.
class TSource {
public:
    virtual ~TSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Exactly count bytes at offset, or nothing.
    virtual std::optional<Bytes> Read(std::uint64_t offset, std::uint64_t count) const = 0;
};

class TFileSource : public TSource {
public:
    explicit TFileSource(const std::string& path) : file_(path, std::ios::binary | std::ios::ate)
    {
        size_ = file_ ? static_cast<std::uint64_t>(file_.tellg()) : 0;
    }
    bool IsOpen() const { return bool(file_); }
    std::uint64_t Size() const override { return size_; }
    std::optional<Bytes> Read(std::uint64_t offset, std::uint64_t count) const override
    {
        if (offset > size_ || count > size_ - offset)
            return std::nullopt;
        Bytes bytes(count);
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(offset));
        if (!file_.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count)))
            return std::nullopt;
        return bytes;
    }

private:
    mutable std::ifstream file_;
    std::uint64_t size_ = 0;
};

class TMemorySource : public TSource {
public:
    explicit TMemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    std::optional<Bytes> Read(std::uint64_t offset, std::uint64_t count) const override
    {
        if (offset > bytes_.size() || count > bytes_.size() - offset)
            return std::nullopt;
        const auto* begin = reinterpret_cast<const unsigned char*>(bytes_.data()) + offset;
        return Bytes(begin, begin + count);
    }

private:
    std::string_view bytes_;
};

struct TCentralDirectory {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t entries = 0;
};

// The end record is the last thing in the file but for a comment of up to 64 KiB.
std::optional<TCentralDirectory> FindCentralDirectory(const TSource& file)
{
    const std::uint64_t fileSize = file.Size();
    if (fileSize < EndRecordSize)
        return std::nullopt;
    const std::uint64_t tailSize = std::min<std::uint64_t>(fileSize, EndRecordSize + MaxCommentSize);
    const std::optional<Bytes> tail = file.Read(fileSize - tailSize, tailSize);
    if (!tail)
        return std::nullopt;
    for (std::size_t at = tailSize - EndRecordSize + 1; at-- > 0;) {
        if (Little(*tail, at, 4) != EndSignature)
            continue;
        TCentralDirectory directory{Little(*tail, at + 16, 4), Little(*tail, at + 12, 4), Little(*tail, at + 10, 2)};
        if (directory.offset != Zip64Marker && directory.size != Zip64Marker)
            return directory;
        const std::uint64_t endOffset = fileSize - tailSize + at;
        if (endOffset < 20)
            return std::nullopt;
        const std::optional<Bytes> locator = file.Read(endOffset - 20, 20);
        if (!locator || Little(*locator, 0, 4) != Zip64LocatorSignature)
            return std::nullopt;
        const std::optional<Bytes> end64 = file.Read(Little(*locator, 8, 8), 56);
        if (!end64 || Little(*end64, 0, 4) != Zip64EndSignature)
            return std::nullopt;
        return TCentralDirectory{Little(*end64, 48, 8), Little(*end64, 40, 8), Little(*end64, 32, 8)};
    }
    return std::nullopt;
}

// The ZIP64 extra field holds the uncompressed size first when the header's own is the marker.
std::optional<std::uint64_t> Zip64Size(const Bytes& directory, std::size_t extra, std::size_t extraEnd)
{
    while (extra + 4 <= extraEnd) {
        const std::uint64_t id = Little(directory, extra, 2);
        const std::uint64_t length = Little(directory, extra + 2, 2);
        if (id == 0x0001 && length >= 8 && extra + 12 <= extraEnd)
            return Little(directory, extra + 4, 8);
        extra += 4 + length;
    }
    return std::nullopt;
}

struct TSummary {
    std::uint64_t size = 0; // of all entries, uncompressed
    bool encrypted = false; // some entry needs a password
};

std::optional<TSummary> Summarise(const TSource& file)
{
    const std::uint64_t fileSize = file.Size();
    const std::optional<TCentralDirectory> found = FindCentralDirectory(file);
    if (!found || found->offset > fileSize || found->size > fileSize - found->offset)
        return std::nullopt;
    const std::optional<Bytes> directory = file.Read(found->offset, found->size);
    if (!directory)
        return std::nullopt;

    TSummary summary;
    std::size_t at = 0;
    for (std::uint64_t entry = 0; entry < found->entries; ++entry) {
        if (at + EntryHeaderSize > directory->size() || Little(*directory, at, 4) != EntrySignature)
            return std::nullopt;
        std::uint64_t size = Little(*directory, at + 24, 4);
        const std::size_t nameLength = Little(*directory, at + 28, 2);
        const std::size_t extraLength = Little(*directory, at + 30, 2);
        const std::size_t commentLength = Little(*directory, at + 32, 2);
        const std::size_t extra = at + EntryHeaderSize + nameLength;
        const std::size_t next = extra + extraLength + commentLength;
        if (next > directory->size())
            return std::nullopt;
        if (size == Zip64Marker) {
            const std::optional<std::uint64_t> size64 = Zip64Size(*directory, extra, extra + extraLength);
            if (!size64)
                return std::nullopt;
            size = *size64;
        }
        summary.size += size;
        summary.encrypted = summary.encrypted || (Little(*directory, at + 8, 2) & EncryptedFlag) != 0;
        at = next;
    }
    return summary;
}

std::optional<std::uint64_t> SizeOf(const std::optional<TSummary>& summary)
{
    return summary ? std::optional(summary->size) : std::nullopt;
}

} // namespace

std::optional<std::uint64_t> UncompressedSize(const std::string& archive)
{
    const TFileSource file(archive);
    return file.IsOpen() ? SizeOf(Summarise(file)) : std::nullopt;
}

std::optional<std::uint64_t> UncompressedSizeOf(std::string_view bytes)
{
    return SizeOf(Summarise(TMemorySource(bytes)));
}

bool HoldsEncryptedEntries(const std::string& archive)
{
    const TFileSource file(archive);
    const std::optional<TSummary> summary = file.IsOpen() ? Summarise(file) : std::nullopt;
    return summary && summary->encrypted;
}
