// TGifSubImage::Decompress: the variable-length-code LZW decoder of GIF image data.
#include "GifUnit.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int TableSize = 4096;
constexpr int MaxCodeSize = 12;

// One string of the table. Besides prefix and suffix every entry keeps its length and first
// byte, so that a string is written straight into place (backwards, from its last byte) and the
// first byte of a code's string needs no walk down the prefix chain.
struct TEntry {
    std::uint16_t Prefix;
    std::uint16_t Length;
    std::uint8_t Suffix;
    std::uint8_t First;
};

// The bits of all data sub-blocks, least significant bit first, taken from one run of bytes.
// Bytes are fetched ahead in words, but running out is reported only when a code needs bits that
// are not there, with the byte buffer's error for the block after the last one. The state is a
// plain value that the decoder keeps in locals (in registers, that is).
struct TBitState {
    std::size_t Position = 0; // next byte to fetch
    std::uint64_t Bits = 0;   // fetched bits not yet used, lowest first
    int Count = 0;            // number of those bits
};

std::vector<std::uint8_t> JoinBlocks(const TByteBuffer& data)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(std::max(data.TotalSize, 0)));
    for (const std::string& block : data.Blocks)
        bytes.insert(bytes.end(), block.begin(), block.end());
    return bytes;
}

[[gnu::noinline]] TBitState RefillNearTheEnd(TBitState state, const std::vector<std::uint8_t>& bytes, int width,
                                             std::size_t blockCount)
{
    while (state.Count <= 56 && state.Position < bytes.size()) {
        state.Bits |= static_cast<std::uint64_t>(bytes[state.Position++]) << state.Count;
        state.Count += 8;
    }
    if (state.Count < width)
        RaiseListIndexError(static_cast<std::int64_t>(blockCount));
    return state;
}

// The interlace passes of GIF: first row and step of passes 1 to 4.
constexpr std::int32_t PassFirstRow[5] = {0, 0, 4, 2, 1};
constexpr std::int32_t PassStep[5] = {0, 8, 8, 4, 2};

// The row after `row`; a pass without rows is passed over, and after pass 4 the row lies beyond
// the image.
std::int32_t NextInterlacedRow(std::int32_t row, std::int32_t height, std::int32_t& pass)
{
    row += PassStep[pass];
    while (row >= height && pass <= 4) {
        ++pass;
        if (pass > 4)
            break;
        row = PassFirstRow[pass];
    }
    return row;
}

class TLzwDecoder {
public:
    explicit TLzwDecoder(TGifSubImage& image)
        : Image(image),
          Width(image.ImageDescriptor.ImageWidth),
          Height(image.ImageDescriptor.ImageHeight),
          RowBuffer(Width),
          RowHook(GifMessageHook())
    {
    }

    // The hot state lives in locals: the byte stores into the row would otherwise force every
    // member to be reloaded after each pixel. There is one place that reads a code.
    void Run()
    {
        const int minCodeSize = Image.MinCodeSize;
        if (minCodeSize < 2 || minCodeSize > 9)
            throw EGifException("Bad code Size");
        const std::uint32_t clearCode = 1u << minCodeSize;
        const std::uint32_t endCode = clearCode + 1;
        for (std::uint32_t literal = 0; literal < clearCode; ++literal)
            Table[literal] = {0, 1, static_cast<std::uint8_t>(literal), static_cast<std::uint8_t>(literal)};
        Image.CompressedData->Rewind();
        const std::vector<std::uint8_t> bytes = JoinBlocks(*Image.CompressedData);
        const std::size_t blockCount = Image.CompressedData->Blocks.size();
        std::size_t position = 0;
        std::uint64_t bits = 0;
        int count = 0;

        // A stream that does not start with a clear code is read as if it did.
        enum { stNormal, stAfterClear, stAtStart } phase = stAtStart;
        int codeSize = minCodeSize + 1;
        std::uint32_t freeCode = endCode + 1;
        std::uint32_t maxCode = 1u << codeSize;
        std::uint32_t oldCode = 0;
        std::uint8_t* const row = RowBuffer.Memory();
        const std::int32_t width = Width;
        std::int32_t column = 0;

        for (;;) {
            if (count < codeSize) {
                if (position + 8 <= bytes.size()) {
                    std::uint64_t word;
                    std::memcpy(&word, bytes.data() + position, 8);
                    bits |= word << count;
                    position += static_cast<std::size_t>((63 - count) >> 3);
                    count |= 56;
                } else {
                    const TBitState state = RefillNearTheEnd({position, bits, count}, bytes, codeSize, blockCount);
                    position = state.Position;
                    bits = state.Bits;
                    count = state.Count;
                }
            }
            std::uint32_t code = static_cast<std::uint32_t>(bits) & ((1u << codeSize) - 1);
            bits >>= codeSize;
            count -= codeSize;

            if (code == clearCode) { // a run of clear codes acts as one
                codeSize = minCodeSize + 1;
                freeCode = endCode + 1;
                maxCode = 1u << codeSize;
                phase = stAfterClear;
                continue;
            }
            if (freeCode >= TableSize) // entry 4095 is made: only a clear code may follow
                throw EGifException("Code size overflow");
            if (code == endCode) {
                if (phase == stAfterClear)
                    throw EGifException("Bad code");
                return; // nothing after the end code is read
            }
            if (phase != stNormal) {
                // The first code after a clear: one pixel, no entry; an undefined code stands for 0.
                phase = stNormal;
                if (code >= freeCode)
                    code = 0;
                if (width == 0)
                    RaiseIndexOutOfBounds(); // the row buffer has no element 1
                row[column++] = static_cast<std::uint8_t>(code);
                if (column == width)
                    column = CompleteRow();
                oldCode = code;
                continue;
            }

            std::uint8_t firstByte;
            if (code < freeCode)
                firstByte = Table[code].First;
            else if (code == freeCode) // the code being defined: oldCode's string and its first byte
                firstByte = Table[oldCode].First;
            else
                throw EGifException("Bad code");
            const TEntry previous = Table[oldCode];
            Table[freeCode] = {static_cast<std::uint16_t>(oldCode), static_cast<std::uint16_t>(previous.Length + 1),
                               firstByte, previous.First};
            if (++freeCode >= maxCode && codeSize < MaxCodeSize) {
                maxCode *= 2;
                ++codeSize;
            }
            oldCode = code;

            const std::int32_t length = Table[code].Length;
            if (length <= 2 && column + 2 <= width) {
                // Short strings without a loop: a one-byte string's First and Suffix are the
                // same byte, and the second store is overwritten by the next string.
                row[column] = Table[code].First;
                row[column + 1] = Table[code].Suffix;
                column += length;
            } else if (length <= width - column) {
                std::uint8_t* out = row + column + length;
                do {
                    *--out = Table[code].Suffix;
                    code = Table[code].Prefix;
                } while (out != row + column);
                column += length;
            } else {
                column = EmitAcrossRows(code, length, column);
                continue;
            }
            if (column == width)
                column = CompleteRow();
        }
    }

private:
    // A string longer than the rest of the row: built on the stack, then spread over the rows.
    [[gnu::noinline]] std::int32_t EmitAcrossRows(std::uint32_t code, std::int32_t length, std::int32_t column)
    {
        if (Width == 0)
            RaiseIndexOutOfBounds();
        std::uint8_t* out = Stack + length;
        do {
            *--out = Table[code].Suffix;
            code = Table[code].Prefix;
        } while (out != Stack);
        const std::uint8_t* bytes = Stack;
        while (length > 0) {
            const std::int32_t take = std::min(length, Width - column);
            std::memcpy(RowBuffer.Memory() + column, bytes, static_cast<std::size_t>(take));
            column += take;
            bytes += take;
            length -= take;
            if (column == Width)
                column = CompleteRow();
        }
        return column;
    }

    // Rows go into the matrix only when complete, after the user interface had its turn.
    [[gnu::noinline]] std::int32_t CompleteRow()
    {
        if (RowHook)
            RowHook();
        Image.Pixels->SetRow(Row + 1, RowBuffer);
        if (Image.Interlaced)
            Row = NextInterlacedRow(Row, Height, Pass);
        else
            ++Row;
        return 0;
    }

    TGifSubImage& Image;
    const std::int32_t Width;
    const std::int32_t Height;
    TBigByteArray RowBuffer;
    std::int32_t Row = 0;    // 0-based image row now being filled
    std::int32_t Pass = 1;   // interlace pass, 1 to 4 (5 once pass 4 is over)
    const std::function<void()> RowHook;
    TEntry Table[TableSize] = {};
    std::uint8_t Stack[TableSize] = {};
};

} // namespace

void TGifSubImage::Decompress()
{
    TLzwDecoder decoder(*this);
    decoder.Run();
}
