// Fuzz target: any bytes as a settings file, read by TIniFile and by a plain second reading of
// the same rules, written back unchanged, then changed in one value (fuzz/IniChecks.h).
#include "IniChecks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

const std::string& ScratchFile();

void RemoveScratch()
{
    const std::string& path = ScratchFile();
    ::unlink(path.c_str());
    ::rmdir(path.substr(0, path.rfind('/')).c_str());
}

// One scratch directory for the whole run; the check replaces the file in it. In memory where
// there is a memory file system: every replacement is flushed to disk.
const std::string& ScratchFile()
{
    static const std::string path = [] {
        std::string pattern = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/kabinex-ini-fuzz-XXXXXX" : "/tmp/kabinex-ini-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return pattern + "/kabinex.ini";
    }();
    static const bool removedAtExit = std::atexit(RemoveScratch) == 0;
    (void)removedAtExit;
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string failure = inicheck::CheckInput(bytes, ScratchFile());
    if (!failure.empty()) {
        std::fprintf(stderr, "settings check failed: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
