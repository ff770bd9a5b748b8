// What a ZIP archive holds, read from its central directory without extracting anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The sum of the uncompressed sizes of the archive's entries (ZIP64 sizes included); nothing
// when the file cannot be read or holds no readable central directory.
std::optional<std::uint64_t> UncompressedSize(const std::string& archive);
// The same for an archive held in memory.
std::optional<std::uint64_t> UncompressedSizeOf(std::string_view bytes);
// Whether some entry of the archive is encrypted: it cannot be extracted without its password.
bool HoldsEncryptedEntries(const std::string& archive);
