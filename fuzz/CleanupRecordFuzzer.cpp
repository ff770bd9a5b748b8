// Fuzz target: any bytes as a clean-up record. A record read is checked against the rules, and
// what is written back from it reads back the same.
#include "CleanupRecord.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::optional<TCleanupRecord> record =
        ParseCleanupRecord(std::string(reinterpret_cast<const char*>(data), size));
    if (!record)
        return 0;
    RecordFault(*record);
    const std::string written = SerializeCleanupRecord(*record);
    const std::optional<TCleanupRecord> again = ParseCleanupRecord(written);
    if (!again || SerializeCleanupRecord(*again) != written)
        std::abort();
    return 0;
}
