#include "app/standard_output.h"

#include <memory>
#include <type_traits>

#include <windows.h>

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// A GUI-subsystem program starts without a console: its standard output is
// valid only when the parent handed one on (a redirect to a file or a pipe).
bool inherited(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

} // namespace

bool writeStandardOutput(const std::string& text) {
    // Lines end in CR LF, as vela-update.exe's do through the C runtime.
    std::string lines;
    for (const char c : text) {
        if (c == '\n')
            lines += '\r';
        lines += c;
    }
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    UniqueHandle console;
    if (!inherited(out)) {
        // Started from a console window: write into the parent's console. The
        // shell does not wait for a GUI program, so its prompt may come first.
        if (!AttachConsole(ATTACH_PARENT_PROCESS))
            return false;
        HANDLE opened =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (opened == INVALID_HANDLE_VALUE)
            return false;
        console.reset(opened);
        out = opened;
    }
    DWORD written = 0;
    return WriteFile(out, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) &&
           written == lines.size();
}
