// TMemoryStream: a growable block of bytes with a read/write position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

class TMemoryStream {
public:
    void Write(const void* data, std::size_t count)
    {
        if (count == 0)
            return;
        if (position_ + count > bytes_.size())
            bytes_.resize(position_ + count);
        std::memcpy(bytes_.data() + position_, data, count);
        position_ += count;
    }

    std::size_t Read(void* data, std::size_t count)
    {
        const std::size_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
        const std::size_t n = count < available ? count : available;
        if (n > 0)
            std::memcpy(data, bytes_.data() + position_, n);
        position_ += n;
        return n;
    }

    // Makes room for count more bytes without changing the size.
    void Reserve(std::size_t count) { bytes_.reserve(bytes_.size() + count); }

    std::size_t Size() const { return bytes_.size(); }
    std::size_t Position() const { return position_; }
    void SetPosition(std::size_t position) { position_ = position; }
    const std::uint8_t* Memory() const { return bytes_.data(); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
};
