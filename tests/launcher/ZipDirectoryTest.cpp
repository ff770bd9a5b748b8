// The uncompressed size of an archive read from its central directory: archives made by zip, a
// ZIP64 directory built by hand, and files that are no archive.
#include "TempDir.h"
#include "ZipDirectory.h"

#include <gtest/gtest.h>

namespace {

void Put(std::string& bytes, std::uint64_t value, int count)
{
    // Runs of zeros may be longer than the value's eight bytes.
    for (int i = 0; i < count; ++i)
        bytes += i < 8 ? char((value >> (8 * i)) & 0xFF) : '\0';
}

// A central directory of one entry of 5 GiB + 7 bytes, its size only in the ZIP64 extra field,
// found through the ZIP64 end record and its locator; no member data (it is never read).
std::string Zip64Directory()
{
    const std::uint64_t size = (5ull << 30) + 7;
    std::string bytes;
    Put(bytes, 0x02014b50, 4);
    Put(bytes, 45, 2);         // made by
    Put(bytes, 45, 2);         // needed
    Put(bytes, 0, 2 + 2 + 4 + 4);
    Put(bytes, 0xFFFFFFFF, 4); // compressed size
    Put(bytes, 0xFFFFFFFF, 4); // uncompressed size
    Put(bytes, 3, 2);          // name length
    Put(bytes, 4 + 16, 2);     // extra length
    Put(bytes, 0, 2 + 2 + 2 + 4);
    Put(bytes, 0, 4);          // local header offset
    bytes += "big";
    Put(bytes, 0x0001, 2);
    Put(bytes, 16, 2);
    Put(bytes, size, 8);       // uncompressed, then compressed
    Put(bytes, size, 8);
    const std::uint64_t directorySize = bytes.size();
    const std::uint64_t end64At = bytes.size();
    Put(bytes, 0x06064b50, 4);
    Put(bytes, 44, 8);
    Put(bytes, 45, 2);
    Put(bytes, 45, 2);
    Put(bytes, 0, 4 + 4);
    Put(bytes, 1, 8);          // entries on this disk
    Put(bytes, 1, 8);          // entries
    Put(bytes, directorySize, 8);
    Put(bytes, 0, 8);          // directory offset
    Put(bytes, 0x07064b50, 4);
    Put(bytes, 0, 4);
    Put(bytes, end64At, 8);
    Put(bytes, 1, 4);
    Put(bytes, 0x06054b50, 4);
    Put(bytes, 0, 2 + 2);
    Put(bytes, 0xFFFF, 2 + 2);
    Put(bytes, 0xFFFFFFFF, 4 + 4);
    Put(bytes, 0, 2);
    return bytes;
}

TEST(ZipDirectoryTest, SumsTheUncompressedSizes)
{
    TempDir root;
    root.Write("in/empty", "");
    root.Write("in/one", "1");
    root.Write("in/big", std::string(3000, 'x')); // compresses to a few bytes
    root.MakeDir("in/sub");
    const std::string archive = root / "a.zip";
    ASSERT_EQ(std::system(("cd '" + root / "in" + "' && zip -qr '" + archive + "' empty one big sub").c_str()), 0);
    EXPECT_EQ(UncompressedSize(archive), 3001u);

    // A comment after the end record is passed over.
    ASSERT_EQ(std::system(("echo 'a comment' | zip -qz '" + archive + "'").c_str()), 0);
    EXPECT_EQ(UncompressedSize(archive), 3001u);

    EXPECT_EQ(UncompressedSize(root.Write("big64.zip", Zip64Directory())), (5ull << 30) + 7);
}

TEST(ZipDirectoryTest, NoArchiveHasNoSize)
{
    TempDir root;
    EXPECT_EQ(UncompressedSize(root / "missing.zip"), std::nullopt);
    EXPECT_EQ(UncompressedSize(root.Write("text.zip", "not an archive at all")), std::nullopt);
    EXPECT_EQ(UncompressedSize(root.Write("empty.zip", "")), std::nullopt);
    // The end record promises a directory the file does not hold.
    std::string cut = Zip64Directory();
    cut.erase(0, 20);
    EXPECT_EQ(UncompressedSize(root.Write("cut.zip", cut)), std::nullopt);
    root.Write("in/one", "1");
    ASSERT_EQ(std::system(("cd '" + root / "in" + "' && zip -q '" + root / "short.zip" + "' one").c_str()), 0);
    std::string bytes = ReadAll(root / "short.zip");
    bytes[bytes.size() - 22 + 10] = 2; // two entries claimed, one there
    EXPECT_EQ(UncompressedSize(root.Write("short.zip", bytes)), std::nullopt);
}

} // namespace
