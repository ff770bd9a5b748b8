#include "GifDecl.h"

#include <algorithm>
#include <new>

void RaiseListIndexError(std::int64_t index)
{
    throw EStringListError("Der Index der Liste überschreitet das Maximum (" + std::to_string(index) + ")");
}

std::uint8_t* TByteBuffer::AppendBlock(std::uint8_t length)
{
    const std::size_t size = static_cast<std::size_t>(TotalSize);
    if (size + length > Capacity && !Reserve(std::max<std::size_t>(length, Capacity))) // doubling: linear appends
        throw std::bad_alloc();
    BlockLengths.push_back(length);
    TotalSize += length;
    return Data.get() + size;
}

bool TByteBuffer::Reserve(std::size_t bytes)
{
    const std::size_t wanted = static_cast<std::size_t>(TotalSize) + bytes;
    if (wanted <= Capacity)
        return true;
    // realloc moves a big block by remapping its pages, without copying or touching them.
    auto* grown = static_cast<std::uint8_t*>(std::realloc(Data.get(), wanted));
    if (grown == nullptr)
        return false;
    Data.release();
    Data.reset(grown);
    Capacity = wanted;
    return true;
}

std::string TByteBuffer::GetBlock(std::int32_t n) const
{
    if (n < 1 || n > BlockCount())
        RaiseListIndexError(static_cast<std::int64_t>(n) - 1);
    std::size_t start = 0;
    for (std::int32_t i = 0; i + 1 < n; ++i)
        start += BlockLengths[static_cast<std::size_t>(i)];
    return {reinterpret_cast<const char*>(Data.get()) + start, BlockLengths[static_cast<std::size_t>(n) - 1]};
}
