// Owners for Win32 handles. INVALID_HANDLE_VALUE is folded into null, so
// that "no handle" has one spelling and the deleter never closes it.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <memory>
#include <string>

struct HandleCloser {
    using pointer = HANDLE;
    void operator()(HANDLE handle) const {
        if (handle)
            ::CloseHandle(handle);
    }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

inline UniqueHandle makeUniqueHandle(HANDLE handle) {
    return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

struct DevInfoCloser {
    using pointer = HDEVINFO;
    void operator()(HDEVINFO set) const {
        if (set)
            ::SetupDiDestroyDeviceInfoList(set);
    }
};
using UniqueDevInfo = std::unique_ptr<void, DevInfoCloser>;

inline UniqueDevInfo makeUniqueDevInfo(HDEVINFO set) {
    return UniqueDevInfo(set == INVALID_HANDLE_VALUE ? nullptr : set);
}

// The text FormatMessageW gives for a system error code (neutral language).
[[nodiscard]] std::u16string windowsErrorText(DWORD error);

// char16_t and wchar_t are both UTF-16 units on Windows; they differ in type only.
inline std::wstring toWide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}
inline std::u16string fromWide(const wchar_t* text) {
    std::u16string out;
    for (; text && *text; ++text)
        out += static_cast<char16_t>(*text);
    return out;
}
