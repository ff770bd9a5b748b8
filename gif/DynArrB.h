// Byte containers of the GIF model: a bounds-checked contiguous byte block and a byte matrix
// kept row after row in one such block. Both index from 1.
#pragma once

#include "SysUtils.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

class EIndexOutOfBounds : public Exception {
public:
    using Exception::Exception;
};

class ENotEnoughMemory : public Exception {
public:
    using Exception::Exception;
};

[[noreturn]] void RaiseIndexOutOfBounds();

// One contiguous, zero-filled block of bytes. The size is 64-bit so that a pixel matrix of two
// 16-bit dimensions (up to 65535 * 65535 bytes) is either obtained whole or refused, never wrapped.
class TBigByteArray {
public:
    explicit TBigByteArray(std::int64_t size);
    TBigByteArray(const TBigByteArray&) = delete;
    TBigByteArray& operator=(const TBigByteArray&) = delete;
    ~TBigByteArray() = default;

    std::uint8_t GetItem(std::int64_t index) const
    {
        CheckIndex(index);
        return Data.get()[index - 1];
    }
    void SetItem(std::int64_t index, std::uint8_t value)
    {
        CheckIndex(index);
        Data.get()[index - 1] = value;
    }

    // Raw access for block copies; callers check their ranges first.
    std::uint8_t* Memory() { return Data.get(); }
    const std::uint8_t* Memory() const { return Data.get(); }

    struct TFreeBlock {
        void operator()(std::uint8_t* block) const { std::free(block); }
    };
    std::unique_ptr<std::uint8_t, TFreeBlock> Data; // no block when Size is 0
    std::int64_t Size = 0;

private:
    void CheckIndex(std::int64_t index) const
    {
        if (index < 1 || index > Size)
            RaiseIndexOutOfBounds();
    }
};

class TByteArray2D {
public:
    TByteArray2D(std::int32_t columns, std::int32_t rows);
    TByteArray2D(const TByteArray2D&) = delete;
    TByteArray2D& operator=(const TByteArray2D&) = delete;

    std::uint8_t GetItem(std::int32_t column, std::int32_t row) const
    {
        return Items->GetItem(column + (static_cast<std::int64_t>(row) - 1) * Columns);
    }
    // A new array holding a copy of row `row`; the caller owns it.
    std::unique_ptr<TBigByteArray> GetRow(std::int32_t row) const;
    void SetRow(std::int32_t row, const TBigByteArray& source);

    // Read-only view of a whole row for block copies; the row must lie inside the matrix.
    const std::uint8_t* RowMemory(std::int32_t row) const;

    std::unique_ptr<TBigByteArray> Items;
    std::int32_t Columns = 0;
    std::int32_t Rows = 0;
};
