#include "cli/update_report.h"

#include "base/regular_file.h"
#include "base/utf16_text.h"

#include <QDir>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

std::atomic<bool (*)()> injectedSync{nullptr};

QString notRegular() {
    return QStringLiteral("it is not a regular file");
}

} // namespace

void update_report::testing::setSync(bool (*sync)()) {
    injectedSync.store(sync);
}

bool UpdateReport::isOpen() const {
    std::lock_guard<std::mutex> hold(lock_);
    return file_ != -1;
}

bool UpdateReport::append(const QString& line, QString& error) {
    std::lock_guard<std::mutex> hold(lock_);
    if (broken_) {
        error = QStringLiteral("a line before it could not be taken back");
        failed_.store(true);
        return false;
    }
    if (appendLocked(line.toUtf8() + '\n', error))
        return true;
    failed_.store(true);
    return false;
}

#ifdef _WIN32

UpdateReport::~UpdateReport() {
    if (file_ != -1)
        CloseHandle(reinterpret_cast<HANDLE>(file_));
}

QString UpdateReport::open(const QString& path) {
    std::lock_guard<std::mutex> hold(lock_);
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return qt_error_string(static_cast<int>(GetLastError()));
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return notRegular();
    }
    file_ = reinterpret_cast<std::intptr_t>(file);
    return {};
}

bool UpdateReport::appendLocked(const QByteArray& bytes, QString& error) {
    HANDLE file = reinterpret_cast<HANDLE>(file_);
    // Other stations append to the same file: one at a time. The lock is on
    // a byte far past any line, which no write touches.
    OVERLAPPED lockAt{};
    lockAt.Offset = 0xFFFFFFFF;
    lockAt.OffsetHigh = 0x7FFFFFFF;
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockAt) != 0;
    // Where the line starts, to take it back if it is cut short.
    LARGE_INTEGER start{};
    const bool startKnown = GetFileSizeEx(file, &start) != 0;
    // Both offsets all ones: at the file's end, wherever another put it.
    OVERLAPPED end{};
    end.Offset = 0xFFFFFFFF;
    end.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    bool ok =
        WriteFile(file, bytes.constData(), static_cast<DWORD>(bytes.size()), &written, &end) != 0;
    DWORD cause = ok ? ERROR_DISK_FULL : GetLastError();
    ok = ok && written == static_cast<DWORD>(bytes.size());
    if (ok) {
        bool (*sync)() = injectedSync.load();
        ok = sync ? sync() : FlushFileBuffers(file) != 0;
        cause = sync ? ERROR_WRITE_FAULT : GetLastError();
    }
    if (!ok) {
        error = qt_error_string(static_cast<int>(cause));
        // A line cut short, or not kept by the disk, is taken back: the file
        // ends with it, as nobody else wrote while the lock was held. If it
        // cannot be, no line may follow it.
        if (written > 0) {
            broken_ = !locked || !startKnown ||
                      !SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !SetEndOfFile(file);
            (void)FlushFileBuffers(file);
        }
    }
    if (locked)
        UnlockFileEx(file, 0, 1, 0, &lockAt);
    return ok;
}

#else

UpdateReport::~UpdateReport() {
    if (file_ != -1)
        ::close(static_cast<int>(file_));
}

QString UpdateReport::open(const QString& path) {
    std::lock_guard<std::mutex> hold(lock_);
    const RegularFileOpen opened = openRegularFile(byteNameFromUtf16(path.toStdU16String()),
                                                   O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (opened.notRegular)
        return notRegular();
    if (opened.fd < 0)
        return qt_error_string(opened.error);
    int fd = opened.fd;
    // Never a standard stream's number: with one closed at start, whatever
    // the program says there would land in the report.
    if (fd <= STDERR_FILENO) {
        const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        const int cause = errno;
        ::close(fd);
        if (high < 0)
            return qt_error_string(cause);
        fd = high;
    }
    file_ = fd;
    return {};
}

bool UpdateReport::appendLocked(const QByteArray& bytes, QString& error) {
    const int fd = static_cast<int>(file_);
    // Other stations append to the same file: one at a time, so that a line
    // cut short is taken back before another can follow it. A file system
    // without locks still gets each line in one write.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    ssize_t written = -1;
    do {
        written = ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    } while (written < 0 && errno == EINTR);
    int cause = written < 0 ? errno : ENOSPC;
    bool ok = written == bytes.size();
    if (ok) {
        bool (*sync)() = injectedSync.load();
        ok = sync ? sync() : ::fsync(fd) == 0;
        cause = sync ? EIO : errno;
    }
    // A line cut short, or not kept by the disk, is taken back: the file ends
    // with it, as nobody else wrote while the lock was held.
    if (!ok && written > 0) {
        const off_t end = ::lseek(fd, 0, SEEK_END);
        broken_ = end < written || ::ftruncate(fd, end - written) != 0;
        (void)::fsync(fd);
    }
    ::flock(fd, LOCK_UN);
    if (!ok)
        error = qt_error_string(cause);
    return ok;
}

#endif
