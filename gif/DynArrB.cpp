#include "DynArrB.h"

#include <cstring>
#include <new>
#include <string>

void RaiseIndexOutOfBounds()
{
    throw EIndexOutOfBounds("Dynamic array index out of bounds");
}

namespace {

[[noreturn]] void RaiseNotEnoughMemory(std::int64_t size)
{
    throw ENotEnoughMemory(
        "error in TBigByteArray.create: Not enough contiguous memory available\r\n requested memory block: " +
        std::to_string(size) + " bytes");
}

} // namespace

TBigByteArray::TBigByteArray(std::int64_t size)
{
    if (size < 0 || static_cast<std::uint64_t>(size) > SIZE_MAX)
        RaiseNotEnoughMemory(size);
    if (size > 0) {
        // calloc: pixels that decoding never reaches read as 0, and big blocks come as fresh
        // zero pages without an extra pass over them.
        auto* block = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(size), 1));
        if (block == nullptr)
            RaiseNotEnoughMemory(size);
        Data.reset(block);
    }
    Size = size;
}

TByteArray2D::TByteArray2D(std::int32_t columns, std::int32_t rows)
    : Items(std::make_unique<TBigByteArray>(static_cast<std::int64_t>(columns) * rows)),
      Columns(columns),
      Rows(rows)
{
}

std::unique_ptr<TBigByteArray> TByteArray2D::GetRow(std::int32_t row) const
{
    auto copy = std::make_unique<TBigByteArray>(Columns);
    for (std::int32_t i = 1; i <= Columns; ++i)
        copy->SetItem(i, GetItem(i, row));
    return copy;
}

void TByteArray2D::SetRow(std::int32_t row, const TBigByteArray& source)
{
    if (row < 1 || row > Rows)
        RaiseIndexOutOfBounds();
    if (source.Size != Columns)
        throw Exception("Row doesn't have equal number of elements as Matrix row");
    if (Columns > 0)
        std::memcpy(Items->Memory() + (static_cast<std::int64_t>(row) - 1) * Columns, source.Memory(),
                    static_cast<std::size_t>(Columns));
}

const std::uint8_t* TByteArray2D::RowMemory(std::int32_t row) const
{
    if (row < 1 || row > Rows)
        RaiseIndexOutOfBounds();
    return Items->Memory() + (static_cast<std::int64_t>(row) - 1) * Columns;
}
