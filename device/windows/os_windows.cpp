// Files, threads and sleeping on Windows.
#include "device/disk_io.h"
#include "device/disk_testing.h"
#include "device/windows/win_handles.h"

#include <vector>

std::u16string windowsErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text),
        0, nullptr);
    std::u16string out;
    if (length && text)
        out = fromWide(text);
    if (text)
        ::LocalFree(text);
    while (!out.empty() && (out.back() == u'\n' || out.back() == u'\r' || out.back() == u' '))
        out.pop_back();
    if (out.empty())
        out = u"System error " + std::u16string(fromWide(std::to_wstring(error).c_str()));
    return out;
}

namespace {

class WinIo : public diskio::BlockIo {
public:
    explicit WinIo(UniqueHandle handle) : handle_(std::move(handle)) {}

    bool seek(std::uint64_t pos) override {
        LONG high = static_cast<LONG>(pos >> 32);
        const DWORD low = ::SetFilePointer(handle_.get(), static_cast<LONG>(pos & 0xFFFFFFFFu),
                                           &high, FILE_BEGIN);
        return !(low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) || fail();
    }
    bool tell(std::uint64_t& pos) override {
        LONG high = 0;
        const DWORD low = ::SetFilePointer(handle_.get(), 0, &high, FILE_CURRENT);
        if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR)
            return fail();
        pos = (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low;
        return true;
    }
    bool read(void* buffer, std::size_t len, std::size_t& got) override {
        DWORD n = 0;
        got = 0;
        if (!::ReadFile(handle_.get(), buffer, static_cast<DWORD>(len), &n, nullptr))
            return fail();
        got = n;
        return true;
    }
    bool write(const void* buffer, std::size_t len) override {
        DWORD n = 0;
        if (!::WriteFile(handle_.get(), buffer, static_cast<DWORD>(len), &n, nullptr))
            return fail();
        if (n != len) {
            error_ = ERROR_WRITE_FAULT;
            return false;
        }
        return true;
    }
    bool flush() override { return ::FlushFileBuffers(handle_.get()) || fail(); }
    bool size(std::uint64_t& bytes) override {
        LARGE_INTEGER value{};
        if (!::GetFileSizeEx(handle_.get(), &value))
            return fail();
        bytes = static_cast<std::uint64_t>(value.QuadPart);
        return true;
    }
    std::u16string lastErrorText() const override { return windowsErrorText(error_); }

private:
    bool fail() {
        error_ = ::GetLastError();
        return false;
    }
    UniqueHandle handle_;
    DWORD error_ = NO_ERROR;
};

using WaitForAll = DWORD (*)(const std::vector<HANDLE>& running);

DWORD waitForAll(const std::vector<HANDLE>& running) {
    return ::WaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(), TRUE,
                                    INFINITE);
}

// Every thread has ended once this returns: the disks they write are closed
// right after, so a failed wait must not cut the wait short.
void waitUntilEnded(const std::vector<HANDLE>& running, WaitForAll wait) {
    const DWORD waited = wait(running);
    if (waited < WAIT_OBJECT_0 + running.size())
        return;
    for (HANDLE thread : running) {
        DWORD code = 0;
        while (::WaitForSingleObject(thread, INFINITE) != WAIT_OBJECT_0 &&
               ::GetExitCodeThread(thread, &code) && code == STILL_ACTIVE)
            ::Sleep(10);
    }
}

DWORD WINAPI runJob(LPVOID job) {
    return static_cast<DWORD>((*static_cast<const std::function<int()>*>(job))());
}

} // namespace

diskio::BlockIoPtr makeWinIo(HANDLE handle) {
    return std::make_unique<WinIo>(makeUniqueHandle(handle));
}

namespace diskio {

OpenResult openFileForReading(const std::u16string& path) {
    UniqueHandle file =
        makeUniqueHandle(::CreateFileW(toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr));
    if (!file)
        return {nullptr, windowsErrorText(::GetLastError())};
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(file.get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return {nullptr, u"Not a regular file (" + path + u")"};
    return {std::make_unique<WinIo>(std::move(file)), {}};
}

namespace {

std::vector<ThreadOutcome> runThreadsWaiting(const std::vector<std::function<int()>>& jobs,
                                             WaitForAll wait) {
    std::vector<ThreadOutcome> outcomes(jobs.size());
    std::vector<UniqueHandle> threads(jobs.size());
    std::vector<HANDLE> running;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        threads[i] = makeUniqueHandle(::CreateThread(
            nullptr, 0, runJob, const_cast<std::function<int()>*>(&jobs[i]), 0, nullptr));
        outcomes[i].started = threads[i] != nullptr;
        if (threads[i])
            running.push_back(threads[i].get());
    }
    // At most 16 disks, well below MAXIMUM_WAIT_OBJECTS.
    if (!running.empty())
        waitUntilEnded(running, wait);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        DWORD code = 0;
        if (threads[i] && ::GetExitCodeThread(threads[i].get(), &code) && code != STILL_ACTIVE) {
            outcomes[i].haveCode = true;
            outcomes[i].code = static_cast<int>(code);
        }
    }
    return outcomes;
}

} // namespace

std::vector<ThreadOutcome> runThreads(const std::vector<std::function<int()>>& jobs) {
    return runThreadsWaiting(jobs, waitForAll);
}

std::vector<ThreadOutcome>
testing::runThreadsWithFailingWait(const std::vector<std::function<int()>>& jobs) {
    return runThreadsWaiting(jobs, [](const std::vector<HANDLE>&) -> DWORD {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    });
}

} // namespace diskio
