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

// The bits of all data sub-blocks, least significant bit first, read straight from the blocks.
// Bytes are fetched ahead in words while the block has 8 left; near a block's end they are
// fetched one by one, crossing into the next block. Running out is reported only when a code
// needs bits that are not there, with the byte buffer's error for the block after the last one.
// The decoder keeps this state in locals (in registers, that is) and hands it over by value.
struct TBitState {
    const std::uint8_t* Next;    // next byte to fetch in the current block
    const std::uint8_t* WordEnd; // from here on the block has fewer than 8 bytes left
    std::uint64_t Bits;          // fetched bits not yet used, lowest first
    int Count;                   // number of those bits
};

class TBlockWalker {
public:
    explicit TBlockWalker(const TByteBuffer& data) : blocks_(data.Blocks) {}

    TBitState Start()
    {
        TBitState state{nullptr, nullptr, 0, 0};
        Enter(state, 0);
        return state;
    }

    // Fills the bit buffer byte by byte, entering the next blocks as needed.
    [[gnu::noinline]] TBitState RefillSlowly(TBitState state, int width)
    {
        while (state.Count <= 56) {
            if (state.Next == blockEnd_) {
                if (index_ + 1 >= blocks_.size())
                    break;
                Enter(state, index_ + 1);
                continue;
            }
            state.Bits |= static_cast<std::uint64_t>(*state.Next++) << state.Count;
            state.Count += 8;
            if (state.Next < state.WordEnd && state.Count >= width)
                break;
        }
        if (state.Count < width)
            RaiseListIndexError(static_cast<std::int64_t>(blocks_.size()));
        return state;
    }

private:
    void Enter(TBitState& state, std::size_t index)
    {
        index_ = index;
        if (index >= blocks_.size()) {
            state.Next = state.WordEnd = blockEnd_ = nullptr;
            return;
        }
        const std::string& block = blocks_[index];
        state.Next = reinterpret_cast<const std::uint8_t*>(block.data());
        blockEnd_ = state.Next + block.size();
        state.WordEnd = block.size() >= 8 ? blockEnd_ - 7 : state.Next;
    }

    const TByteStrings& blocks_;
    std::size_t index_ = 0;
    const std::uint8_t* blockEnd_ = nullptr;
};

inline std::uint32_t ReadCode(TBitState& state, int width, TBlockWalker& walker)
{
    if (state.Count < width) {
        if (state.Next < state.WordEnd) {
            std::uint64_t word;
            std::memcpy(&word, state.Next, 8);
            state.Bits |= word << state.Count;
            state.Next += (63 - state.Count) >> 3;
            state.Count |= 56;
        } else {
            state = walker.RefillSlowly(state, width);
        }
    }
    const auto code = static_cast<std::uint32_t>(state.Bits) & ((1u << width) - 1);
    state.Bits >>= width;
    state.Count -= width;
    return code;
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
    // member to be reloaded after each pixel. Clear codes, end codes and the full table leave the
    // inner loop, which handles plain codes only.
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
        TBlockWalker walker(*Image.CompressedData);
        const TBitState start = walker.Start();
        const std::uint8_t* next = start.Next;
        const std::uint8_t* wordEnd = start.WordEnd;
        std::uint64_t bits = 0;
        int count = 0;
        // For the rare codes outside the inner loop; the state goes out and back by value.
        const auto readOutOfLine = [&walker](TBitState state, int width) {
            const std::uint32_t code = ReadCode(state, width, walker);
            return std::pair<std::uint32_t, TBitState>(code, state);
        };
        const auto take = [](const std::pair<std::uint32_t, TBitState>& read, const std::uint8_t*& next,
                             const std::uint8_t*& wordEnd, std::uint64_t& bits, int& count) {
            next = read.second.Next;
            wordEnd = read.second.WordEnd;
            bits = read.second.Bits;
            count = read.second.Count;
            return read.first;
        };

        int codeSize = minCodeSize + 1;
        std::uint8_t* out = RowBuffer.Memory(); // next pixel of the row
        std::uint8_t* const rowEnd = out + Width;

        // A stream that does not start with a clear code is read as if it did.
        std::uint32_t code = take(readOutOfLine({next, wordEnd, bits, count}, codeSize), next, wordEnd, bits, count);
        for (;;) {
            if (code == endCode)
                return; // nothing after the end code is read
            codeSize = minCodeSize + 1;
            std::uint32_t freeCode = endCode + 1;
            if (code == clearCode) {
                do // a run of clear codes acts as one
                    code = take(readOutOfLine({next, wordEnd, bits, count}, codeSize), next, wordEnd, bits, count);
                while (code == clearCode);
                if (code == endCode)
                    throw EGifException("Bad code");
            }
            // The first code after a clear: one pixel, no entry; an undefined code stands for 0.
            if (code >= freeCode)
                code = 0;
            if (out == rowEnd)
                RaiseIndexOutOfBounds(); // a row buffer of width 0 has no element 1
            *out++ = static_cast<std::uint8_t>(code);
            if (out == rowEnd)
                out = CompleteRow();
            std::uint32_t oldCode = code;
            std::uint8_t oldFirst = static_cast<std::uint8_t>(code);
            std::int32_t oldLength = 1;

            for (;;) {
                if (count < codeSize) {
                    if (next < wordEnd) {
                        std::uint64_t word;
                        std::memcpy(&word, next, 8);
                        bits |= word << count;
                        next += (63 - count) >> 3;
                        count |= 56;
                    } else {
                        const TBitState state = walker.RefillSlowly({next, wordEnd, bits, count}, codeSize);
                        next = state.Next;
                        wordEnd = state.WordEnd;
                        bits = state.Bits;
                        count = state.Count;
                    }
                }
                code = static_cast<std::uint32_t>(bits) & ((1u << codeSize) - 1);
                bits >>= codeSize;
                count -= codeSize;
                if (code - clearCode <= 1)
                    break;
                // The entry of oldCode is not read again: its first byte and length are kept.
                std::uint8_t firstByte;
                if (code < freeCode)
                    firstByte = Table[code].First;
                else if (code == freeCode) // being defined: oldCode's string and its first byte
                    firstByte = oldFirst;
                else
                    throw EGifException("Bad code");
                Table[freeCode] = {static_cast<std::uint16_t>(oldCode), static_cast<std::uint16_t>(oldLength + 1),
                                   firstByte, oldFirst};
                if ((++freeCode >> codeSize) != 0 && codeSize < MaxCodeSize) // entry 2^codeSize - 1 made
                    ++codeSize;
                oldCode = code;
                oldFirst = firstByte;
                const std::ptrdiff_t length = Table[code].Length;
                oldLength = static_cast<std::int32_t>(length);

                const std::ptrdiff_t room = rowEnd - out;
                if (length <= 2 && room >= 2) {
                    // Short strings without a loop: a one-byte string's first byte and suffix are
                    // the same, and the second store is overwritten by the next string.
                    out[0] = firstByte;
                    out[1] = Table[code].Suffix;
                    out += length;
                    if (out == rowEnd)
                        out = CompleteRow();
                } else if (length <= room) {
                    std::uint8_t* const start = out;
                    out += length;
                    std::uint8_t* at = out;
                    do {
                        *--at = Table[code].Suffix;
                        code = Table[code].Prefix;
                    } while (at != start);
                    if (out == rowEnd)
                        out = CompleteRow();
                } else {
                    out = EmitAcrossRows(code, static_cast<std::int32_t>(length), out);
                }

                if (freeCode == TableSize) [[unlikely]] {
                    // Entry 4095 is made: only a clear code may follow, not even the end code.
                    code = take(readOutOfLine({next, wordEnd, bits, count}, codeSize), next, wordEnd, bits, count);
                    if (code != clearCode)
                        throw EGifException("Code size overflow");
                    break;
                }
            }
        }
    }

private:
    // A string longer than the rest of the row: built on the stack, then spread over the rows.
    [[gnu::noinline]] std::uint8_t* EmitAcrossRows(std::uint32_t code, std::int32_t length, std::uint8_t* out)
    {
        if (Width == 0)
            RaiseIndexOutOfBounds(); // the row buffer has no element 1
        std::uint8_t* at = Stack + length;
        do {
            *--at = Table[code].Suffix;
            code = Table[code].Prefix;
        } while (at != Stack);
        std::uint8_t* const rowEnd = RowBuffer.Memory() + Width;
        const std::uint8_t* bytes = Stack;
        while (length > 0) {
            const std::int32_t take = std::min(length, static_cast<std::int32_t>(rowEnd - out));
            std::memcpy(out, bytes, static_cast<std::size_t>(take));
            out += take;
            bytes += take;
            length -= take;
            if (out == rowEnd)
                out = CompleteRow();
        }
        return out;
    }

    // Rows go into the matrix only when complete, after the user interface had its turn.
    [[gnu::noinline]] std::uint8_t* CompleteRow()
    {
        if (RowHook)
            RowHook();
        Image.Pixels->SetRow(Row + 1, RowBuffer);
        if (Image.Interlaced)
            Row = NextInterlacedRow(Row, Height, Pass);
        else
            ++Row;
        return RowBuffer.Memory();
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
