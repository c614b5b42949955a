// Memory for disk I/O. Unbuffered (Windows) and direct (Linux) access move
// data straight between the device and this memory, so it must start on a
// boundary the device accepts; 4096 covers 512-byte and 4K-sector disks alike.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kIoAlignment = 4096;

class AlignedBuffer {
public:
    AlignedBuffer() = default;
    // Zero-filled; valid() is false when the memory could not be had.
    explicit AlignedBuffer(std::size_t size);
    ~AlignedBuffer();
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    AlignedBuffer(AlignedBuffer&& other) noexcept;
    AlignedBuffer& operator=(AlignedBuffer&& other) noexcept;

    [[nodiscard]] bool valid() const { return data_ != nullptr; }
    [[nodiscard]] std::uint8_t* data() const { return data_; }
    [[nodiscard]] std::size_t size() const { return size_; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};
