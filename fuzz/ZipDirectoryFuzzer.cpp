// Fuzz target: any bytes as a ZIP archive whose central directory is read for the sum of its
// entries' sizes.
#include "ZipDirectory.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    UncompressedSizeOf(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
