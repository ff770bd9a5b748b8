// gif2bmp IN.gif OUT.bmp: writes the bitmap file of the GIF's first image, read with our own
// reader. On failure prints the exception's message and exits non-zero.
#include "Classes.h"
#include "GifUnit.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <iostream>

namespace {

[[noreturn]] void RaiseIoError(int error)
{
    throw EInOutError(IoCodeFromErrno(error));
}

// The rows go from the pixel matrix through stdio's buffer straight to the file: a bitmap file
// held whole in memory would cost as many fresh pages as the picture.
void WriteBitmapFileTo(const char* path, const TGifSubImage& image)
{
    TFileHandle out(std::fopen(path, "wb"));
    if (!out)
        RaiseIoError(errno);
    static char buffer[1 << 18];
    std::setvbuf(out.get(), buffer, _IOFBF, sizeof buffer);
    WriteBitmapFile(image, [&out](const void* bytes, std::size_t count) {
        if (std::fwrite(bytes, 1, count, out.get()) != count)
            RaiseIoError(errno);
    });
    if (std::fclose(out.release()) != 0)
        RaiseIoError(errno);
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
        WriteBitmapFileTo(argv[2], FirstSubImage(gif));
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    return 0;
}
