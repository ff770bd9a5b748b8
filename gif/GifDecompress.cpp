// TGifSubImage::Decompress: the variable-length-code LZW decoder of GIF image data.
#include "GifUnit.h"

#include <algorithm>
#include <cstring>
#include <utility>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

constexpr int TableSize = 4096;
constexpr int MaxCodeSize = 12;

// One string of the table, packed into the low 48 bits of a word: prefix code (bits 0-15),
// length (16-31), last byte (32-39) and first byte (40-47). Keeping length and first byte means a
// string is written straight into place (backwards, from its last byte) and the first byte of a
// code's string needs no walk down the prefix chain. Entries lie 6 bytes apart and are read and
// written 8 bytes at a time: a store spills into the next entry, which is always written before
// it is read.
constexpr std::uint64_t LengthOne = std::uint64_t{1} << 16;
constexpr std::uint64_t LengthAndFirstBits = 0x0000FF00FFFF0000;

inline std::uint64_t EntryLength(std::uint64_t entry)
{
    return (entry >> 16) & 0xFFFF;
}
inline std::uint8_t EntryLast(std::uint64_t entry)
{
    return static_cast<std::uint8_t>(entry >> 32);
}
inline std::uint8_t EntryFirst(std::uint64_t entry)
{
    return static_cast<std::uint8_t>(entry >> 40);
}
inline std::uint32_t EntryPrefix(std::uint64_t entry)
{
    return static_cast<std::uint32_t>(entry & 0xFFFF);
}
inline std::uint64_t LiteralEntry(std::uint32_t literal)
{
    const std::uint64_t byte = literal & 0xFF;
    return LengthOne | byte << 32 | byte << 40;
}

// The bits of the image data, least significant bit first, read from runs of bytes: in words
// while 8 bytes of the run are left, then byte by byte, on into the next run. The decoder keeps
// this state in locals (in registers, that is) and hands it over by value.
struct TBitState {
    const std::uint8_t* Next;    // next byte to fetch
    const std::uint8_t* WordEnd; // from here on fewer than 8 bytes of the run are left
    const std::uint8_t* End;     // end of the run
    std::uint64_t Bits;          // fetched bits not yet used, lowest first
    int Count;                   // number of those bits
};

const std::uint8_t* WordEndOf(const std::uint8_t* begin, const std::uint8_t* end)
{
    return end - begin >= 8 ? end - 7 : begin;
}

// The data ran out before the end code; Decompress decides whether that ends the image.
struct TDataEnded {};

// Fills the bit buffer byte by byte near the end of a run, entering the next runs as needed.
[[gnu::noinline]] TBitState RefillSlowly(TBitState state, TCompressedSource& source, int width)
{
    while (state.Count <= 56) {
        if (state.Next == state.End) {
            if (!source.NextRun(state.Next, state.End))
                break;
            state.WordEnd = WordEndOf(state.Next, state.End);
            if (state.Count >= width && state.Next < state.WordEnd)
                break; // words again
            continue;
        }
        state.Bits |= static_cast<std::uint64_t>(*state.Next++) << state.Count;
        state.Count += 8;
    }
    if (state.Count < width)
        throw TDataEnded{};
    return state;
}

// Reads one code outside the decoder's inner loop; the bit state goes in and out by value, so
// that the decoder's locals never have their address taken.
[[gnu::noinline]] std::pair<std::uint32_t, TBitState> ReadCodeOutOfLine(TBitState state, TCompressedSource& source, int width)
{
    if (state.Count < width) {
        if (state.Next < state.WordEnd) {
            std::uint64_t word;
            std::memcpy(&word, state.Next, 8);
            state.Bits |= word << state.Count;
            state.Next += (63 - state.Count) >> 3;
            state.Count |= 56;
        } else {
            state = RefillSlowly(state, source, width);
        }
    }
    const auto code = static_cast<std::uint32_t>(state.Bits) & ((1u << width) - 1);
    state.Bits >>= width;
    state.Count -= width;
    return {code, state};
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

// Decodes straight into the pixel matrix: each row is filled in place, and pixels beyond the last
// row go to a spare row whose completion is the error of a row outside the matrix.
class TLzwDecoder {
public:
    explicit TLzwDecoder(TGifSubImage& image)
        : Image(image),
          Width(image.ImageDescriptor.ImageWidth),
          Height(image.ImageDescriptor.ImageHeight),
          RowHook(GifMessageHook())
    {
        const TByteArray2D& pixels = *image.Pixels;
        if (Height > 0 && Width > 0 && pixels.Columns != Width)
            throw Exception("Row doesn't have equal number of elements as Matrix row");
        MatrixRows = std::min(Height, pixels.Rows);
    }

    void Decompress(TCompressedSource& source)
    {
        try {
            Run(source);
            DropPartialRow(); // an end code before the last row is complete
        } catch (const TDataEnded&) {
            // Data that ends without the end code after the last pixel ends the image; data that
            // ends before stays an error.
            if (Width == 0 || Height == 0 || RowsStored < Height) {
                DropPartialRow();
                RaiseListIndexError(source.BlockCount());
            }
        } catch (...) {
            DropPartialRow();
            throw;
        }
    }

private:
    // The hot state lives in locals: the byte stores into the row would otherwise force every
    // member to be reloaded after each pixel. Clear codes, end codes and the full table leave the
    // inner loop, which handles plain codes only.
    void Run(TCompressedSource& source)
    {
        const int minCodeSize = Image.MinCodeSize;
        const std::uint32_t clearCode = 1u << minCodeSize;
        const std::uint32_t endCode = clearCode + 1;
        for (std::uint32_t literal = 0; literal < clearCode; ++literal)
            StoreEntry(literal, LiteralEntry(literal));
        const std::uint8_t* next = nullptr;
        const std::uint8_t* end = nullptr;
        const std::uint8_t* wordEnd = nullptr;
        std::uint64_t bits = 0;
        int count = 0;
        int codeSize = minCodeSize + 1;
        std::uint8_t* out = StartRow(0);
        std::uint8_t* rowEnd = out + Width;

        // A stream that does not start with a clear code is read as if it did.
        std::uint32_t code;
        {
            const auto [first, state] = ReadCodeOutOfLine({next, wordEnd, end, bits, count}, source, codeSize);
            code = first;
            next = state.Next, wordEnd = state.WordEnd, end = state.End, bits = state.Bits, count = state.Count;
        }
        for (;;) {
            if (code == endCode)
                return; // nothing after the end code is read
            codeSize = minCodeSize + 1;
            std::uint32_t freeCode = endCode + 1;
            if (code == clearCode) {
                do { // a run of clear codes acts as one
                    const auto [read, state] = ReadCodeOutOfLine({next, wordEnd, end, bits, count}, source, codeSize);
                    code = read;
                    next = state.Next, wordEnd = state.WordEnd, end = state.End, bits = state.Bits, count = state.Count;
                } while (code == clearCode);
                if (code == endCode)
                    throw EGifException("Bad code");
            }
            // The first code after a clear: one pixel, no entry; an undefined code stands for 0.
            if (code >= freeCode)
                code = 0;
            if (out == rowEnd)
                RaiseIndexOutOfBounds(); // a row of width 0 has no element 1
            *out++ = static_cast<std::uint8_t>(code);
            if (out == rowEnd)
                out = CompleteRow(), rowEnd = out + Width;
            // The previous code with its string's length and first byte, in entry form: a new
            // entry is this plus one in length plus its last byte.
            std::uint64_t previous = code | (LiteralEntry(code) & LengthAndFirstBits);

            for (;;) {
                if (count < codeSize) {
                    if (next < wordEnd) {
                        std::uint64_t word;
                        std::memcpy(&word, next, 8);
                        bits |= word << count;
                        next += (63 - count) >> 3;
                        count |= 56;
                    } else {
                        const TBitState state = RefillSlowly({next, wordEnd, end, bits, count}, source, codeSize);
                        next = state.Next, wordEnd = state.WordEnd, end = state.End, bits = state.Bits, count = state.Count;
                    }
                }
                code = static_cast<std::uint32_t>(bits) & ((1u << codeSize) - 1);
                bits >>= codeSize;
                count -= codeSize;
                if (code - clearCode <= 1)
                    break;

                std::uint64_t entry;
                std::uint8_t firstByte;
                if (code < freeCode) {
                    entry = LoadEntry(code);
                    firstByte = EntryFirst(entry);
                } else if (code == freeCode) { // being defined: the previous string and its first byte
                    firstByte = EntryFirst(previous);
                    entry = previous + LengthOne + (std::uint64_t{firstByte} << 32);
                } else {
                    throw EGifException("Bad code");
                }
                StoreEntry(freeCode, previous + LengthOne + (std::uint64_t{firstByte} << 32));
                if ((++freeCode >> codeSize) != 0 && codeSize < MaxCodeSize) // entry 2^codeSize - 1 made
                    ++codeSize;
                previous = code | (entry & LengthAndFirstBits);

                const std::ptrdiff_t length = static_cast<std::ptrdiff_t>(EntryLength(entry));
                const std::ptrdiff_t room = rowEnd - out;
                if (length <= 2 && room >= 2) {
                    // Short strings without a loop: a one-byte string's first and last byte are
                    // the same, and the second store is overwritten by the next string.
                    out[0] = firstByte;
                    out[1] = EntryLast(entry);
                    out += length;
                    if (out == rowEnd)
                        out = CompleteRow(), rowEnd = out + Width;
                } else if (length <= room) {
                    std::uint8_t* const start = out;
                    out += length;
                    std::uint8_t* at = out;
                    for (;;) {
                        *--at = EntryLast(entry);
                        if (at == start)
                            break;
                        entry = LoadEntry(EntryPrefix(entry));
                    }
                    if (out == rowEnd)
                        out = CompleteRow(), rowEnd = out + Width;
                } else {
                    out = EmitAcrossRows(code, static_cast<std::int32_t>(length), out);
                    rowEnd = RowStart + Width;
                }

                if (freeCode == TableSize) [[unlikely]] {
                    // The table is full: the encoder may go on without a clear code, and codes
                    // then stand for their strings without making entries.
                    TBitState state{next, wordEnd, end, bits, count};
                    for (;;) {
                        const auto [read, after] = ReadCodeOutOfLine(state, source, codeSize);
                        state = after;
                        code = read;
                        if (code - clearCode <= 1)
                            break;
                        out = EmitAcrossRows(code, static_cast<std::int32_t>(EntryLength(LoadEntry(code))), out);
                    }
                    next = state.Next, wordEnd = state.WordEnd, end = state.End, bits = state.Bits, count = state.Count;
                    rowEnd = RowStart + Width;
                    break;
                }
            }
        }
    }

    // A string of any length: built on the stack, then spread over the rows it reaches.
    [[gnu::noinline]] std::uint8_t* EmitAcrossRows(std::uint32_t code, std::int32_t length, std::uint8_t* out)
    {
        if (Width == 0)
            RaiseIndexOutOfBounds(); // a row of width 0 has no element 1
        std::uint8_t* at = Stack + length;
        do {
            const std::uint64_t entry = LoadEntry(code);
            *--at = EntryLast(entry);
            code = EntryPrefix(entry);
        } while (at != Stack);
        const std::uint8_t* bytes = Stack;
        while (length > 0) {
            const std::int32_t take = std::min(length, static_cast<std::int32_t>(RowStart + Width - out));
            std::memcpy(out, bytes, static_cast<std::size_t>(take));
            out += take;
            bytes += take;
            length -= take;
            if (out == RowStart + Width)
                out = CompleteRow();
        }
        return out;
    }

    // The user interface has its turn once per completed row, with the row in place.
    [[gnu::noinline]] std::uint8_t* CompleteRow()
    {
        if (RowHook)
            RowHook();
        if (RowStart == Spare.get())
            RaiseIndexOutOfBounds(); // a complete row beyond the last row of the image
        ++RowsStored;
        if (Image.Interlaced)
            Row = NextInterlacedRow(Row, Height, Pass);
        else
            ++Row;
        return StartRow(Row);
    }

    std::uint8_t* StartRow(std::int32_t row)
    {
        if (row < MatrixRows) {
            RowStart = Image.Pixels->Items->Memory() + static_cast<std::ptrdiff_t>(row) * Width;
            if (RowStart + Width > PopulatedEnd)
                PopulateFrom(RowStart);
        } else {
            if (!Spare)
                Spare = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(Width));
            RowStart = Spare.get();
        }
        return RowStart;
    }

    // Fresh pages are made present a megabyte at a time (all at once for an interlaced image,
    // whose first pass reaches every part of it): far cheaper than a fault on every page.
    [[gnu::noinline]] void PopulateFrom(std::uint8_t* at)
    {
        constexpr std::uintptr_t PageSize = 4096;
        constexpr std::size_t Chunk = std::size_t{1} << 20;
        std::uint8_t* const matrixEnd = Image.Pixels->Items->Memory() + Image.Pixels->Items->Size;
        std::uint8_t* const start = reinterpret_cast<std::uint8_t*>(reinterpret_cast<std::uintptr_t>(at) & ~(PageSize - 1));
        std::uint8_t* const end = Image.Interlaced ? matrixEnd : std::min(matrixEnd, std::max(at + Width, start + Chunk));
#ifdef MADV_POPULATE_WRITE
        if (end - start >= static_cast<std::ptrdiff_t>(Chunk) || Image.Interlaced)
            madvise(start, static_cast<std::size_t>(end - start), MADV_POPULATE_WRITE); // a hint: failure is harmless
#endif
        PopulatedEnd = end;
    }

    // Rows go into the matrix only complete: a row cut short by an early end or an error is
    // cleared again. The row being filled is never read before it is complete.
    void DropPartialRow()
    {
        if (RowStart != nullptr && RowStart != Spare.get())
            std::memset(RowStart, 0, static_cast<std::size_t>(Width));
    }

    std::uint64_t LoadEntry(std::uint32_t code) const
    {
        std::uint64_t entry;
        std::memcpy(&entry, Table + 6 * code, 8);
        return entry;
    }
    void StoreEntry(std::uint32_t code, std::uint64_t entry) { std::memcpy(Table + 6 * code, &entry, 8); }

    TGifSubImage& Image;
    const std::int32_t Width;
    const std::int32_t Height;
    std::int32_t MatrixRows = 0;  // rows of the image that the matrix holds
    std::uint8_t* RowStart = nullptr; // the row being filled, in the matrix or the spare row
    std::uint8_t* PopulatedEnd = nullptr; // the matrix is present up to here
    std::unique_ptr<std::uint8_t[]> Spare;
    std::int32_t Row = 0;        // 0-based image row now being filled
    std::int32_t Pass = 1;       // interlace pass, 1 to 4 (5 once pass 4 is over)
    std::int32_t RowsStored = 0; // complete rows in the matrix
    const std::function<void()> RowHook;

    std::uint8_t Table[6 * TableSize + 2] = {};
    std::uint8_t Stack[TableSize] = {};
};

} // namespace

void TGifSubImage::Decompress()
{
    CheckMinCodeSize();
    CompressedData->Rewind(); // the buffer's error when there is no data at all
    // The whole buffer as one run.
    class TBufferSource : public TCompressedSource {
    public:
        explicit TBufferSource(const TByteBuffer& data) : data_(data) {}
        bool NextRun(const std::uint8_t*& begin, const std::uint8_t*& end) override
        {
            if (given_)
                return false;
            given_ = true;
            begin = data_.Bytes();
            end = begin + data_.TotalSize;
            return true;
        }
        std::int32_t BlockCount() const override { return data_.BlockCount(); }

    private:
        const TByteBuffer& data_;
        bool given_ = false;
    } source(*CompressedData);
    Decompress(source);
}

void TGifSubImage::Decompress(TCompressedSource& source)
{
    CheckMinCodeSize();
    TLzwDecoder decoder(*this);
    decoder.Decompress(source);
}

void TGifSubImage::CheckMinCodeSize() const
{
    if (MinCodeSize < 2 || MinCodeSize > 9)
        throw EGifException("Bad code Size");
}
