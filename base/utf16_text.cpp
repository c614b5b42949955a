#include "base/utf16_text.h"

std::string toUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::size_t boundedLength(const char16_t* text, std::size_t limit) {
    std::size_t n = 0;
    if (!text)
        return 0;
    while (n < limit && text[n] != 0)
        ++n;
    return n;
}

namespace {

// The length of the shortest valid UTF-8 sequence at text[i] and its code
// point; 0 when the bytes there are not one (overlong forms, surrogates and
// values past U+10FFFF included).
std::size_t strictSequence(const std::string& text, std::size_t i, char32_t& c) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
        c = b;
        return 1;
    }
    const std::size_t extra = (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : 0;
    if (extra == 0 || i + extra >= text.size())
        return 0;
    c = extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto cont = static_cast<unsigned char>(text[i + k]);
        if ((cont & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (cont & 0x3F);
    }
    const char32_t least = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return extra + 1;
}

} // namespace

namespace {

// Decodes UTF-8; what is not (an invalid byte, an overlong form, a surrogate)
// goes to `invalid` one byte at a time.
template <typename Invalid> std::u16string decodeUtf8(const std::string& text, Invalid invalid) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t c = 0;
        const std::size_t length = strictSequence(text, i, c);
        if (length == 0) {
            out += invalid(static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        i += length;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

} // namespace

std::u16string toUtf16(const std::string& text) {
    return decodeUtf8(text, [](unsigned char) { return u'\uFFFD'; });
}

std::u16string utf16FromByteName(const std::string& name) {
    return decodeUtf8(name, [](unsigned char b) { return static_cast<char16_t>(0xDC00 + b); });
}

std::string byteNameFromUtf16(const std::u16string& name) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        const bool escaped = i < name.size() && name[i] >= 0xDC80 && name[i] <= 0xDCFF &&
                             (i == 0 || name[i - 1] < 0xD800 || name[i - 1] > 0xDBFF);
        if (i < name.size() && !escaped)
            continue;
        out += toUtf8(name.substr(start, i - start));
        if (escaped)
            out += static_cast<char>(name[i] - 0xDC00);
        start = i + 1;
    }
    return out;
}

std::u16string escapedForDisplay(const std::u16string& text) {
    static const char16_t kHex[] = u"0123456789abcdef";
    std::u16string out;
    out.reserve(text.size());
    const auto hex = [&out](unsigned value, int digits) {
        out += digits == 2 ? u"\\x" : u"\\u";
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
            out += kHex[(value >> shift) & 0xF];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out += c;
            out += text[++i];
        } else if (c == u'\n') {
            out += u"\\n";
        } else if (c == u'\r') {
            out += u"\\r";
        } else if (c == u'\t') {
            out += u"\\t";
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            hex(c, 2);
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            hex(c - 0xDC00u, 2); // a byte that was not text
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            hex(c, 4);
        } else {
            out += c;
        }
    }
    return out;
}

std::string escapedForDisplay(const std::string& bytes) {
    return toUtf8(escapedForDisplay(utf16FromByteName(bytes)));
}
