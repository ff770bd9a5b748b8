// TGifSubImage::Decompress: the variable-length-code LZW decoder of GIF image data, in three
// pieces: the bit reader over the compressed bytes, the code table, and the row output that puts
// the pixels into the matrix; TLzwDecoder walks the codes with them.
#include "GifUnit.h"

#include <algorithm>
#include <cstring>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

constexpr int TableSize = 4096;
constexpr int MaxCodeSize = 12;

// The data ran out before the end code; Decompress decides whether that ends the image.
struct TDataEnded {};

// ---- Bit reader ------------------------------------------------------------------------------

// The bits of the image data, least significant bit first, read from the runs of bytes that the
// source hands out: in words while 8 bytes of the run are left, then byte by byte, on into the
// next run. A small value: the decoder's hot loop keeps a copy in locals (in registers, that is),
// and the slow refill takes it and gives it back by value, so that its address is never taken.
class TBitReader {
public:
    // The next code of `width` bits; TDataEnded when the data runs out first.
    [[gnu::always_inline]] std::uint32_t Read(int width, TCompressedSource& source)
    {
        if (Count < width) {
            if (Next < WordEnd)
                FetchWord();
            else
                *this = RefillSlowly(*this, source, width);
        }
        const auto code = static_cast<std::uint32_t>(Bits) & ((1u << width) - 1);
        Bits >>= width;
        Count -= width;
        return code;
    }

private:
    // Tops the bits up to at least 56 with one unaligned load.
    void FetchWord()
    {
        std::uint64_t word;
        std::memcpy(&word, Next, 8);
        Bits |= word << Count;
        Next += (63 - Count) >> 3;
        Count |= 56;
    }

    // Fills the bits byte by byte near the end of a run, entering the next runs as needed.
    [[gnu::noinline]] static TBitReader RefillSlowly(TBitReader reader, TCompressedSource& source, int width)
    {
        while (reader.Count <= 56) {
            if (reader.Next == reader.End) {
                if (!source.NextRun(reader.Next, reader.End))
                    break;
                reader.WordEnd = reader.End - reader.Next >= 8 ? reader.End - 7 : reader.Next;
                if (reader.Count >= width && reader.Next < reader.WordEnd)
                    break; // words again
                continue;
            }
            reader.Bits |= static_cast<std::uint64_t>(*reader.Next++) << reader.Count;
            reader.Count += 8;
        }
        if (reader.Count < width)
            throw TDataEnded{};
        return reader;
    }

    const std::uint8_t* Next = nullptr;    // next byte to fetch
    const std::uint8_t* WordEnd = nullptr; // from here on fewer than 8 bytes of the run are left
    const std::uint8_t* End = nullptr;     // end of the run
    std::uint64_t Bits = 0;                // fetched bits not yet used, lowest first
    int Count = 0;                         // number of those bits
};

// ---- Code table ------------------------------------------------------------------------------

// The strings of the table, each packed into the low 48 bits of a word: prefix code (bits 0-15),
// length (16-31), last byte (32-39) and first byte (40-47). Keeping length and first byte means a
// string is written straight into place (backwards, from its last byte) and the first byte of a
// code's string needs no walk down the prefix chain. Entries lie 6 bytes apart and are read and
// written 8 bytes at a time: a store spills into the next entry, which is always written before
// it is read.
class TCodeTable {
public:
    static std::uint64_t Length(std::uint64_t entry) { return (entry >> 16) & 0xFFFF; }
    static std::uint8_t Last(std::uint64_t entry) { return static_cast<std::uint8_t>(entry >> 32); }
    static std::uint8_t First(std::uint64_t entry) { return static_cast<std::uint8_t>(entry >> 40); }
    static std::uint32_t Prefix(std::uint64_t entry) { return static_cast<std::uint32_t>(entry & 0xFFFF); }
    static std::uint64_t Literal(std::uint32_t literal)
    {
        const std::uint64_t byte = literal & 0xFF;
        return LengthOne | byte << 32 | byte << 40;
    }
    // Code `code` with the length and first byte of its string `entry`: the prefix of the entry
    // that the next code makes.
    static std::uint64_t AsPrefix(std::uint32_t code, std::uint64_t entry) { return code | (entry & LengthAndFirstBits); }
    // The string of `prefix` followed by `last`.
    static std::uint64_t Extended(std::uint64_t prefix, std::uint8_t last)
    {
        return prefix + LengthOne + (std::uint64_t{last} << 32);
    }

    // The one-byte strings of the literals below `clearCode`; they never change.
    void StoreLiterals(std::uint32_t clearCode)
    {
        for (std::uint32_t literal = 0; literal < clearCode; ++literal)
            Store(literal, Literal(literal));
    }
    std::uint64_t Load(std::uint32_t code) const
    {
        std::uint64_t entry;
        std::memcpy(&entry, Bytes + 6 * code, 8);
        return entry;
    }
    void Store(std::uint32_t code, std::uint64_t entry) { std::memcpy(Bytes + 6 * code, &entry, 8); }

    // Writes the string `entry` backwards into [start, start + its length).
    [[gnu::always_inline]] void WriteString(std::uint64_t entry, std::uint8_t* start) const
    {
        std::uint8_t* at = start + Length(entry);
        for (;;) {
            *--at = Last(entry);
            if (at == start)
                break;
            entry = Load(Prefix(entry));
        }
    }

private:
    static constexpr std::uint64_t LengthOne = std::uint64_t{1} << 16;
    static constexpr std::uint64_t LengthAndFirstBits = 0x0000FF00FFFF0000;

    std::uint8_t Bytes[6 * TableSize + 2] = {};
};

// ---- Row output ------------------------------------------------------------------------------

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

// The pixel rows, filled in place in the matrix in file or interlaced order. Pixels beyond the
// last row go to a spare row whose completion is the error of a row outside the matrix. The
// decoder writes into the current row itself and comes here only when a row is complete or a
// string does not fit into it.
class TRowOutput {
public:
    explicit TRowOutput(TGifSubImage& image)
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

    // The first row of the image.
    std::uint8_t* Begin() { return StartRow(0); }
    std::uint8_t* RowEnd() const { return RowStart + Width; }

    // The user interface has its turn once per completed row, with the row in place. Returns the
    // start of the next row.
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

    // Spreads `length` bytes from `out` on over the rows they reach; where they end.
    std::uint8_t* WriteAcrossRows(const std::uint8_t* bytes, std::int32_t length, std::uint8_t* out)
    {
        if (Width == 0)
            RaiseIndexOutOfBounds(); // a row of width 0 has no element 1
        while (length > 0) {
            const std::int32_t take = std::min(length, static_cast<std::int32_t>(RowEnd() - out));
            std::memcpy(out, bytes, static_cast<std::size_t>(take));
            out += take;
            bytes += take;
            length -= take;
            if (out == RowEnd())
                out = CompleteRow();
        }
        return out;
    }

    // Data that ends without the end code still ends the image once its last row is complete.
    bool AllRowsStored() const { return Width != 0 && Height != 0 && RowsStored >= Height; }

    // Rows go into the matrix only complete: a row cut short by an early end or an error is
    // cleared again. The row being filled is never read before it is complete.
    void DropPartialRow()
    {
        if (RowStart != nullptr && RowStart != Spare.get())
            std::memset(RowStart, 0, static_cast<std::size_t>(Width));
    }

private:
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

    TGifSubImage& Image;
    const std::int32_t Width;
    const std::int32_t Height;
    std::int32_t MatrixRows = 0;          // rows of the image that the matrix holds
    std::uint8_t* RowStart = nullptr;     // the row being filled, in the matrix or the spare row
    std::uint8_t* PopulatedEnd = nullptr; // the matrix is present up to here
    std::unique_ptr<std::uint8_t[]> Spare;
    std::int32_t Row = 0;        // 0-based image row now being filled
    std::int32_t Pass = 1;       // interlace pass, 1 to 4 (5 once pass 4 is over)
    std::int32_t RowsStored = 0; // complete rows in the matrix
    const std::function<void()> RowHook;
};

// ---- Decoder ---------------------------------------------------------------------------------

// Walks the codes: clear codes, end codes and the full table are handled here, plain codes in
// DecodeSegment's inner loop.
class TLzwDecoder {
public:
    TLzwDecoder(TGifSubImage& image, TCompressedSource& source)
        : Source(source), Rows(image), MinCodeSize(image.MinCodeSize), ClearCode(1u << MinCodeSize), EndCode(ClearCode + 1)
    {
    }

    void Decompress()
    {
        try {
            Run();
            Rows.DropPartialRow(); // an end code before the last row is complete
        } catch (const TDataEnded&) {
            // Data that ends without the end code after the last pixel ends the image; data that
            // ends before stays an error.
            if (!Rows.AllRowsStored()) {
                Rows.DropPartialRow();
                RaiseListIndexError(Source.BlockCount());
            }
        } catch (...) {
            Rows.DropPartialRow();
            throw;
        }
    }

private:
    // Marks the end of a segment at a full table; no code reaches it.
    static constexpr std::uint32_t TableFull = TableSize;

    void Run()
    {
        Table.StoreLiterals(ClearCode);
        Out = Rows.Begin();
        // A stream that does not start with a clear code is read as if it did.
        std::uint32_t code = Reader.Read(MinCodeSize + 1, Source);
        for (;;) {
            if (code == EndCode)
                return; // nothing after the end code is read
            if (code == ClearCode)
                code = ReadAfterClears();
            code = DecodeSegment(code);
            if (code == TableFull)
                code = DecodeWithFullTable();
        }
    }

    // The first code after a run of clear codes, which acts as one clear code.
    std::uint32_t ReadAfterClears()
    {
        std::uint32_t code;
        do
            code = Reader.Read(MinCodeSize + 1, Source);
        while (code == ClearCode);
        if (code == EndCode)
            throw EGifException("Bad code");
        return code;
    }

    // From the first code after a clear on to the next clear or end code, which it returns, or
    // TableFull once the table is full. The reader and the output position live in locals here:
    // the byte stores into the row would otherwise force every member to be reloaded after each
    // pixel.
    [[gnu::noinline]] std::uint32_t DecodeSegment(std::uint32_t code)
    {
        const std::uint32_t clearCode = ClearCode;
        TBitReader reader = Reader;
        std::uint8_t* out = Out;
        std::uint8_t* rowEnd = Rows.RowEnd();
        int codeSize = MinCodeSize + 1;
        std::uint32_t freeCode = clearCode + 2;
        // The first code after a clear: one pixel, no entry; an undefined code stands for 0.
        if (code >= freeCode)
            code = 0;
        if (out == rowEnd)
            RaiseIndexOutOfBounds(); // a row of width 0 has no element 1
        *out++ = static_cast<std::uint8_t>(code);
        if (out == rowEnd)
            out = Rows.CompleteRow(), rowEnd = Rows.RowEnd();
        // The previous code with its string's length and first byte, in entry form.
        std::uint64_t previous = TCodeTable::AsPrefix(code, TCodeTable::Literal(code));
        for (;;) {
            code = reader.Read(codeSize, Source);
            if (code - clearCode <= 1)
                break;
            std::uint64_t entry;
            std::uint8_t firstByte;
            if (code < freeCode) {
                entry = Table.Load(code);
                firstByte = TCodeTable::First(entry);
            } else if (code == freeCode) { // being defined: the previous string and its first byte
                firstByte = TCodeTable::First(previous);
                entry = TCodeTable::Extended(previous, firstByte);
            } else {
                throw EGifException("Bad code");
            }
            Table.Store(freeCode, TCodeTable::Extended(previous, firstByte));
            if ((++freeCode >> codeSize) != 0 && codeSize < MaxCodeSize) // entry 2^codeSize - 1 made
                ++codeSize;
            previous = TCodeTable::AsPrefix(code, entry);
            out = Emit(code, entry, firstByte, out, rowEnd);
            if (freeCode == TableSize) [[unlikely]] {
                code = TableFull;
                break;
            }
        }
        Reader = reader;
        Out = out;
        return code;
    }

    // Writes the string of `code` (`entry`, whose first byte is `firstByte`) at `out`; where it
    // ends, with `rowEnd` following the rows it completes.
    [[gnu::always_inline]] std::uint8_t* Emit(std::uint32_t code, std::uint64_t entry, std::uint8_t firstByte,
                                              std::uint8_t* out, std::uint8_t*& rowEnd)
    {
        const std::ptrdiff_t length = static_cast<std::ptrdiff_t>(TCodeTable::Length(entry));
        const std::ptrdiff_t room = rowEnd - out;
        if (length <= 2 && room >= 2) {
            // Short strings without a loop: a one-byte string's first and last byte are the
            // same, and the second store is overwritten by the next string.
            out[0] = firstByte;
            out[1] = TCodeTable::Last(entry);
        } else if (length <= room) {
            Table.WriteString(entry, out);
        } else {
            out = EmitAcrossRows(code, out);
            rowEnd = Rows.RowEnd();
            return out;
        }
        out += length;
        if (out == rowEnd)
            out = Rows.CompleteRow(), rowEnd = Rows.RowEnd();
        return out;
    }

    // The table is full: the encoder may go on without a clear code, and codes then stand for
    // their strings without making entries. Returns the clear or end code that ends this.
    [[gnu::noinline]] std::uint32_t DecodeWithFullTable()
    {
        for (;;) {
            const std::uint32_t code = Reader.Read(MaxCodeSize, Source);
            if (code - ClearCode <= 1)
                return code;
            Out = EmitAcrossRows(code, Out);
        }
    }

    // A string of any length: built on the stack, then spread over the rows it reaches.
    [[gnu::noinline]] std::uint8_t* EmitAcrossRows(std::uint32_t code, std::uint8_t* out)
    {
        const std::uint64_t entry = Table.Load(code);
        Table.WriteString(entry, Stack);
        return Rows.WriteAcrossRows(Stack, static_cast<std::int32_t>(TCodeTable::Length(entry)), out);
    }

    TCompressedSource& Source;
    TRowOutput Rows;
    const int MinCodeSize;
    const std::uint32_t ClearCode;
    const std::uint32_t EndCode;
    TBitReader Reader;         // where reading stands between segments
    std::uint8_t* Out = nullptr; // where the next pixel goes, between segments
    TCodeTable Table;
    std::uint8_t Stack[TableSize] = {};
};

} // namespace

void TGifSubImage::Decompress(TCompressedSource& source)
{
    if (MinCodeSize < 2 || MinCodeSize > 9)
        throw EGifException("Bad code Size");
    TLzwDecoder decoder(*this, source);
    decoder.Decompress();
}
