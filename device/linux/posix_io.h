// A file descriptor that closes itself, and BlockIo over it.
#pragma once

#include "device/disk_io.h"

#include <string>

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

class PosixIo : public diskio::BlockIo {
public:
    // syncOnFlush: the descriptor lacks O_DIRECT, so data may sit in the page
    // cache until flushed.
    PosixIo(UniqueFd fd, bool syncOnFlush) : fd_(std::move(fd)), syncOnFlush_(syncOnFlush) {}
    bool seek(std::uint64_t pos) override;
    bool tell(std::uint64_t& pos) override;
    bool read(void* buffer, std::size_t len, std::size_t& got) override;
    bool write(const void* buffer, std::size_t len) override;
    bool flush() override;
    bool size(std::uint64_t& bytes) override;
    std::u16string lastErrorText() const override;

private:
    bool fail();
    UniqueFd fd_;
    bool syncOnFlush_;
    std::uint64_t pos_ = 0;
    int error_ = 0;
};

// strerror of errno, as UTF-16.
[[nodiscard]] std::u16string systemErrorText(int error);
