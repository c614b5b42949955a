// Files, threads and sleeping on Linux.
#include "base/regular_file.h"
#include "base/utf16_text.h"
#include "device/disk_io.h"
#include "device/linux/posix_io.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

UniqueFd::~UniqueFd() {
    if (fd_ >= 0)
        ::close(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

std::u16string systemErrorText(int error) {
    return toUtf16(std::strerror(error));
}

bool PosixIo::fail() {
    error_ = errno;
    return false;
}

// The position lives here rather than in the kernel: pread and pwrite at it
// save the two lseek calls per control exchange that direct, synchronous
// I/O would otherwise pay for.
bool PosixIo::seek(std::uint64_t pos) {
    if (pos > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        error_ = EINVAL;
        return false;
    }
    pos_ = pos;
    return true;
}

bool PosixIo::tell(std::uint64_t& pos) {
    pos = pos_;
    return true;
}

bool PosixIo::read(void* buffer, std::size_t len, std::size_t& got) {
    got = 0;
    auto* out = static_cast<char*>(buffer);
    while (got < len) {
        const ssize_t n = ::pread(fd_.get(), out + got, len - got, static_cast<off_t>(pos_ + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail();
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    pos_ += got;
    return true;
}

bool PosixIo::write(const void* buffer, std::size_t len) {
    std::size_t put = 0;
    const auto* in = static_cast<const char*>(buffer);
    while (put < len) {
        const ssize_t n = ::pwrite(fd_.get(), in + put, len - put, static_cast<off_t>(pos_ + put));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n < 0)
                return fail();
            error_ = EIO;
            return false;
        }
        put += static_cast<std::size_t>(n);
    }
    pos_ += put;
    return true;
}

bool PosixIo::flush() {
    if (!syncOnFlush_)
        return true;
    return ::fsync(fd_.get()) == 0 || errno == EINVAL || fail();
}

bool PosixIo::size(std::uint64_t& bytes) {
    struct stat info {};
    if (::fstat(fd_.get(), &info) != 0)
        return fail();
    if (S_ISBLK(info.st_mode)) {
        std::uint64_t blockBytes = 0;
        if (::ioctl(fd_.get(), BLKGETSIZE64, &blockBytes) != 0)
            return fail();
        bytes = blockBytes;
        return true;
    }
    bytes = static_cast<std::uint64_t>(info.st_size);
    return true;
}

std::u16string PosixIo::lastErrorText() const {
    return systemErrorText(error_);
}

namespace diskio {

OpenResult openFileForReading(const std::u16string& path) {
    const RegularFileOpen opened = openRegularFile(byteNameFromUtf16(path), O_RDONLY);
    if (opened.notRegular)
        return {nullptr, u"Not a regular file (" + path + u")"};
    if (opened.fd < 0)
        return {nullptr, systemErrorText(opened.error) + u" (" + path + u")"};
    return {std::make_unique<PosixIo>(UniqueFd(opened.fd), false), {}};
}

std::vector<ThreadOutcome> runThreads(const std::vector<std::function<int()>>& jobs) {
    std::vector<ThreadOutcome> outcomes(jobs.size());
    std::vector<std::thread> threads;
    threads.reserve(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        try {
            threads.emplace_back([&outcomes, &jobs, i] {
                outcomes[i].code = jobs[i]();
                outcomes[i].haveCode = true;
            });
            outcomes[i].started = true;
        } catch (const std::system_error&) {
            threads.emplace_back();
        }
    }
    for (std::thread& thread : threads) {
        if (thread.joinable())
            thread.join();
    }
    return outcomes;
}

} // namespace diskio
