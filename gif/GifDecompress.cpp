// TGifSubImage::Decompress: the variable-length-code LZW decoder of GIF image data.
#include "GifUnit.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int TableSize = 4096;
constexpr int MaxCodeSize = 12;

constexpr std::uint16_t CodeMask[MaxCodeSize + 1] = {0,   1,   3,    7,    15,   31,  63,
                                                     127, 255, 511, 1023, 2047, 4095};

// The decoder state of one call. Besides prefix and suffix, every entry keeps the length and the
// first byte of its string, so that a string is written straight into place (backwards, from its
// last byte) and the first byte of a code's string needs no walk down the prefix chain.
struct TLZWState {
    std::int32_t BitsLeft = 0;     // bits of BitBuffer not yet consumed
    std::uint32_t BitBuffer = 0;   // fetched bits not yet consumed, lowest first
    std::int32_t Row = 0;          // 0-based image row now being filled
    std::int32_t Pass = 1;         // interlace pass, 1 to 4 (5 once pass 4 is over)
    std::uint8_t InitialCodeSize = 0;
    std::int32_t CodeSize = 0;
    std::uint32_t ClearCode = 0;
    std::uint32_t EndCode = 0;
    std::uint16_t MaxRootCode = 0;
};

// The interlace passes of GIF: first row and step of passes 1 to 4.
constexpr std::int32_t PassFirstRow[5] = {0, 0, 4, 2, 1};
constexpr std::int32_t PassStep[5] = {0, 8, 8, 4, 2};

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
          Data(*image.CompressedData),
          Width(image.ImageDescriptor.ImageWidth),
          Height(image.ImageDescriptor.ImageHeight),
          RowBuffer(Width),
          RowHook(GifMessageHook())
    {
    }

    void Run()
    {
        InitDecoder(Image.MinCodeSize);
        std::uint32_t code = ReadCode();
        // A stream that does not start with a clear code is read as if it did.
        bool firstCode = true;
        while (code != S.EndCode) {
            if (code == S.ClearCode) {
                ResetTable();
                do
                    code = ReadCode();
                while (code == S.ClearCode);
                if (code == S.EndCode)
                    throw EGifException("Bad code");
                code = StartAfterClear(code);
            } else if (firstCode) {
                ResetTable();
                code = StartAfterClear(code);
            } else if (code < FreeCode) {
                AddEntry(First[code]);
                EmitString(code);
            } else if (code == FreeCode) {
                AddEntry(First[OldCode]);
                EmitString(code);
            } else {
                throw EGifException("Bad code");
            }
            firstCode = false;
            OldCode = static_cast<std::uint16_t>(code);
            code = ReadCode();
            if (TableFull && code != S.ClearCode)
                throw EGifException("Code size overflow");
            TableFull = false;
        }
    }

private:
    void InitDecoder(std::uint8_t minCodeSize)
    {
        if (minCodeSize < 2 || minCodeSize > 9)
            throw EGifException("Bad code Size");
        S.InitialCodeSize = minCodeSize;
        S.CodeSize = minCodeSize + 1;
        S.ClearCode = 1u << minCodeSize;
        S.EndCode = S.ClearCode + 1;
        S.MaxRootCode = static_cast<std::uint16_t>(S.ClearCode - 1);
        for (std::uint32_t literal = 0; literal < S.ClearCode; ++literal) {
            Suffix[literal] = static_cast<std::uint8_t>(literal);
            First[literal] = static_cast<std::uint8_t>(literal);
            Length[literal] = 1;
        }
        Data.Rewind();
    }

    // Codes are packed least significant bit first; only the bytes a code needs are fetched.
    std::uint32_t ReadCode()
    {
        while (S.BitsLeft < S.CodeSize) {
            S.BitBuffer |= static_cast<std::uint32_t>(Data.NextByte()) << S.BitsLeft;
            S.BitsLeft += 8;
        }
        const std::uint32_t code = S.BitBuffer & CodeMask[S.CodeSize];
        S.BitBuffer >>= S.CodeSize;
        S.BitsLeft -= S.CodeSize;
        return code;
    }

    void ResetTable()
    {
        S.CodeSize = S.InitialCodeSize + 1;
        FreeCode = static_cast<std::uint16_t>(S.EndCode + 1);
        MaxCode = static_cast<std::uint16_t>(1u << S.CodeSize);
    }

    // The one pixel of the first code after a clear code (no table entry). An undefined code
    // stands for 0.
    std::uint32_t StartAfterClear(std::uint32_t code)
    {
        if (code >= FreeCode)
            code = 0;
        const std::uint8_t pixel = static_cast<std::uint8_t>(code);
        EmitBytes(&pixel, 1);
        return code;
    }

    // New entry FreeCode: OldCode's string followed by firstByte.
    void AddEntry(std::uint8_t firstByte)
    {
        Prefix[FreeCode] = OldCode;
        Suffix[FreeCode] = firstByte;
        First[FreeCode] = First[OldCode];
        Length[FreeCode] = static_cast<std::uint16_t>(Length[OldCode] + 1);
        ++FreeCode;
        CheckCodeSize();
    }

    void CheckCodeSize()
    {
        if (FreeCode < MaxCode)
            return;
        if (S.CodeSize >= MaxCodeSize) {
            TableFull = true;
        } else {
            MaxCode = static_cast<std::uint16_t>(MaxCode * 2);
            ++S.CodeSize;
        }
    }

    static void WriteStringBackwards(std::uint8_t* end, std::uint32_t code, std::int32_t length,
                                     const std::uint16_t* prefix, const std::uint8_t* suffix)
    {
        for (std::int32_t i = 1; i <= length; ++i) {
            end[-i] = suffix[code];
            code = prefix[code];
        }
    }

    void EmitString(std::uint32_t code)
    {
        const std::int32_t length = Length[code];
        if (Width > 0 && length <= Width - Column) {
            // The common case: the string ends inside the current row.
            WriteStringBackwards(RowBuffer.Memory() + Column + length, code, length, Prefix, Suffix);
            Column += length;
            if (Column == Width)
                CompleteRow();
            return;
        }
        WriteStringBackwards(Stack + length, code, length, Prefix, Suffix);
        EmitBytes(Stack, length);
    }

    void EmitBytes(const std::uint8_t* bytes, std::int32_t count)
    {
        if (Width == 0)
            RaiseIndexOutOfBounds(); // the row buffer has no element 1
        while (count > 0) {
            const std::int32_t take = std::min(count, Width - Column);
            std::memcpy(RowBuffer.Memory() + Column, bytes, static_cast<std::size_t>(take));
            Column += take;
            bytes += take;
            count -= take;
            if (Column == Width)
                CompleteRow();
        }
    }

    // Rows go into the matrix only when complete, after the user interface had its turn.
    void CompleteRow()
    {
        if (RowHook)
            RowHook();
        Image.Pixels->SetRow(S.Row + 1, RowBuffer);
        if (Image.Interlaced)
            S.Row = NextInterlacedRow(S.Row, Height, S.Pass);
        else
            ++S.Row;
        Column = 0;
    }

    TGifSubImage& Image;
    TByteBuffer& Data;
    const std::int32_t Width;
    const std::int32_t Height;
    TBigByteArray RowBuffer;
    std::int32_t Column = 0; // pixels already in RowBuffer
    const std::function<void()> RowHook;

    TLZWState S;
    std::uint16_t FreeCode = 0;
    std::uint16_t MaxCode = 0;
    std::uint16_t OldCode = 0;
    bool TableFull = false;
    std::uint16_t Prefix[TableSize] = {};
    std::uint8_t Suffix[TableSize] = {};
    std::uint8_t First[TableSize] = {};
    std::uint16_t Length[TableSize] = {};
    std::uint8_t Stack[TableSize] = {};
};

} // namespace

void TGifSubImage::Decompress()
{
    TLzwDecoder decoder(*this);
    decoder.Run();
}
