// gif2bmp IN.gif OUT.bmp: writes the bitmap file of the GIF's first image, read with our own
// reader. On failure prints the exception's message and exits non-zero.
#include "Classes.h"
#include "GifUnit.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <iostream>

namespace {

void WriteFile(const char* path, const TMemoryStream& stream)
{
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr)
        throw EInOutError(IoCodeFromErrno(errno));
    const bool written = std::fwrite(stream.Memory(), 1, stream.Size(), out) == stream.Size();
    const int writeError = errno;
    if (std::fclose(out) != 0 || !written)
        throw EInOutError(IoCodeFromErrno(written ? errno : writeError));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: gif2bmp IN.gif OUT.bmp\n";
        return 2;
    }
    try {
        TGifFile gif;
        gif.LoadFromFile(argv[1]);
        TMemoryStream stream;
        WriteBitmapStream(FirstSubImage(gif), stream);
        WriteFile(argv[2], stream);
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    return 0;
}
