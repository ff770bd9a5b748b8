// Fuzz target: any bytes as the memo of an emulator directory's entry counts, with and without
// its heading. Whatever is read holds a count no further than its limit.
#include "CountMemo.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const std::string& text : {bytes, "kabinex counts 1\t/e\n" + bytes}) {
        const TKnownCounts known = TKnownCounts::Parse(text, "/e");
        std::size_t lines = 0;
        for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1, ++lines) {
            const std::size_t end = text.find_first_of("\t\n", at);
            const TKnownEntry* entry = known.Find(std::string_view(text).substr(at, end - at));
            if (entry && (entry->second.count < 0 || entry->second.count > entry->second.limit))
                std::abort();
            if (text.find('\n', at) == std::string::npos)
                break;
        }
        if (known.Size() > lines)
            std::abort();
    }
    return 0;
}
