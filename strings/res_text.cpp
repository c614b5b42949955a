#include "strings/res_text.h"

#include "base/byte_order.h"
#include "base/utf16_text.h"

#include <cstdint>

ResTextBuilder resTextBuilder(char16_t* buffer, std::size_t units) {
    buffer[0] = 0;
    return ResTextBuilder{units - 1, buffer, buffer};
}

void resTextAppend(ResTextBuilder& builder, const char16_t* text) {
    if (text == nullptr)
        return;
    while (*text != 0 && builder.remaining != 0) {
        *builder.cursor++ = *text++;
        --builder.remaining;
    }
    // The cursor stays on the terminator so that the next append replaces it.
    *builder.cursor = 0;
}

std::int64_t resTextLength(const char16_t* text) {
    return static_cast<std::int64_t>(boundedLength(text, SIZE_MAX));
}

const char16_t* resTextEnd(const char16_t* text) {
    return text == nullptr ? nullptr : text + boundedLength(text, SIZE_MAX);
}

void resCopyLE16(char16_t* dest, const std::uint8_t* src, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k)
        dest[k] = static_cast<char16_t>(readLE16(src + 2 * k));
}

char16_t resToUpper(char16_t c) {
    for (const ResUpperCaseRow* row = resUpperCaseTable; row->first != 0; ++row) {
        if (c < row->first)
            break;
        if (c > row->last)
            continue;
        if (row->delta == -1)
            return ((c - row->first) & 1) != 0 ? c : static_cast<char16_t>(c - 1);
        return static_cast<char16_t>(static_cast<std::uint32_t>(c + row->delta) & 0xFFFF);
    }
    return c;
}
