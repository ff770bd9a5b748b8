#include "ZipDirectory.h"

#include <fstream>
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

std::uint64_t Little(const Bytes& bytes, std::size_t at, int count)
{
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[at + i];
    return value;
}

std::optional<Bytes> ReadAt(std::ifstream& file, std::uint64_t offset, std::uint64_t count)
{
    Bytes bytes(count);
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count)))
        return std::nullopt;
    return bytes;
}

struct TCentralDirectory {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t entries = 0;
};

// The end record is the last thing in the file but for a comment of up to 64 KiB.
std::optional<TCentralDirectory> FindCentralDirectory(std::ifstream& file, std::uint64_t fileSize)
{
    if (fileSize < EndRecordSize)
        return std::nullopt;
    const std::uint64_t tailSize = std::min<std::uint64_t>(fileSize, EndRecordSize + MaxCommentSize);
    const std::optional<Bytes> tail = ReadAt(file, fileSize - tailSize, tailSize);
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
        const std::optional<Bytes> locator = ReadAt(file, endOffset - 20, 20);
        if (!locator || Little(*locator, 0, 4) != Zip64LocatorSignature)
            return std::nullopt;
        const std::optional<Bytes> end64 = ReadAt(file, Little(*locator, 8, 8), 56);
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

} // namespace

std::optional<std::uint64_t> UncompressedSize(const std::string& archive)
{
    std::ifstream file(archive, std::ios::binary | std::ios::ate);
    if (!file)
        return std::nullopt;
    const auto fileSize = static_cast<std::uint64_t>(file.tellg());
    const std::optional<TCentralDirectory> found = FindCentralDirectory(file, fileSize);
    if (!found || found->offset > fileSize || found->size > fileSize - found->offset)
        return std::nullopt;
    const std::optional<Bytes> directory = ReadAt(file, found->offset, found->size);
    if (!directory)
        return std::nullopt;

    std::uint64_t total = 0;
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
        total += size;
        at = next;
    }
    return total;
}
