// TMemoryStream: a growable block of bytes with a read/write position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

// Leaves the bytes a resize adds uninitialised: Write copies over them at once, and clearing them
// first would touch every page of a big stream twice.
template <class T>
struct TUninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = TUninitialisedAllocator<U>;
    };
    TUninitialisedAllocator() = default;
    template <class U>
    TUninitialisedAllocator(const TUninitialisedAllocator<U>&) noexcept
    {
    }
    template <class U>
    void construct(U* at) noexcept
    {
        ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args)
    {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

class TMemoryStream {
public:
    using TBytes = std::vector<std::uint8_t, TUninitialisedAllocator<std::uint8_t>>;

    void Write(const void* data, std::size_t count)
    {
        if (count == 0)
            return;
        const std::size_t oldSize = bytes_.size();
        if (position_ + count > oldSize) {
            bytes_.resize(position_ + count);
            if (position_ > oldSize) // a write past the end leaves zero bytes in the gap
                std::memset(bytes_.data() + oldSize, 0, position_ - oldSize);
        }
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
    const TBytes& Bytes() const { return bytes_; }

private:
    TBytes bytes_;
    std::size_t position_ = 0;
};
