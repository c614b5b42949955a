#include "strings/res_qstring.h"

#include "strings/res_string.h"
#include "strings/res_text.h"

#include <cstring>

QString getResQString(std::uint32_t id, std::int32_t language) {
    const char16_t* text = getResString(id, language);
    if (text == nullptr)
        return QString();
    return qStringFromUtf16(text);
}

QString qStringFromUtf16(const char16_t* text, std::size_t length) {
    if (text == nullptr)
        return QString();
    return QString(reinterpret_cast<const QChar*>(text), static_cast<int>(length));
}

QString qStringFromUtf16(const char16_t* text) {
    return qStringFromUtf16(text, static_cast<std::size_t>(resTextLength(text)));
}

QString qStringFromUtf16(const std::u16string& text) {
    return qStringFromUtf16(text.data(), text.size());
}

std::int32_t toWideBuffer(const QString& text, char16_t* buffer) {
    const int n = text.size();
    std::memcpy(buffer, text.utf16(), static_cast<size_t>(n) * sizeof(char16_t));
    buffer[n] = 0;
    return n;
}
