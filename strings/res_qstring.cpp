#include "strings/res_qstring.h"

#include "strings/res_string.h"

#include <cstring>

QString getResQString(std::uint32_t id, std::int32_t language) {
    const char16_t* text = getResString(id, language);
    if (text == nullptr)
        return QString();
    return QString::fromUtf16(text);
}

std::int32_t toWideBuffer(const QString& text, char16_t* buffer) {
    const int n = text.size();
    std::memcpy(buffer, text.utf16(), static_cast<size_t>(n) * sizeof(char16_t));
    buffer[n] = 0;
    return n;
}
