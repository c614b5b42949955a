#include "device/aligned_buffer.h"

#include <cstring>
#include <new>
#include <utility>

AlignedBuffer::AlignedBuffer(std::size_t size) {
    void* p = ::operator new(size, std::align_val_t(kIoAlignment), std::nothrow);
    if (!p)
        return;
    std::memset(p, 0, size);
    data_ = static_cast<std::uint8_t*>(p);
    size_ = size;
}

AlignedBuffer::~AlignedBuffer() {
    if (data_)
        ::operator delete(data_, std::align_val_t(kIoAlignment));
}

AlignedBuffer::AlignedBuffer(AlignedBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

AlignedBuffer& AlignedBuffer::operator=(AlignedBuffer&& other) noexcept {
    if (this != &other) {
        if (data_)
            ::operator delete(data_, std::align_val_t(kIoAlignment));
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}
