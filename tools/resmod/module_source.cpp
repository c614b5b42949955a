#include "module_source.h"

#include <cstdlib>

namespace {

// Appends the UTF-16 units of the UTF-8 sequence at text[pos]; false on
// malformed input, which a translator should hear about rather than see as
// a replacement character in the calculator suite.
bool takeUtf8(const std::string& text, std::size_t& pos, std::u16string& out) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    int extra = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if (lead == 0) {
        return false; // a zero unit would end the string early
    } else if (lead < 0x80) {
        code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        code = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        code = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        code = lead & 0x07;
        minimum = 0x10000;
    } else {
        return false;
    }
    if (text.size() - pos <= static_cast<std::size_t>(extra))
        return false;
    for (int i = 1; i <= extra; ++i) {
        const unsigned char next = byte(pos + static_cast<std::size_t>(i));
        if ((next & 0xC0) != 0x80)
            return false;
        code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return false;
    pos += static_cast<std::size_t>(extra) + 1;
    if (code >= 0x10000) {
        code -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(code));
    }
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string trimmed(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && (isBlank(text[end - 1]) || text[end - 1] == '\r'))
        --end;
    return text.substr(begin, end - begin);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool parseText(const std::string& text, std::u16string& out, std::string& why) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] != '\\') {
            if (!takeUtf8(text, pos, out)) {
                why = "invalid UTF-8";
                return false;
            }
            continue;
        }
        if (pos + 1 >= text.size()) {
            why = "backslash at the end of the line";
            return false;
        }
        const char escape = text[pos + 1];
        pos += 2;
        switch (escape) {
        case 'n':
            out.push_back(u'\n');
            break;
        case 'r':
            out.push_back(u'\r');
            break;
        case 't':
            out.push_back(u'\t');
            break;
        case 's':
            out.push_back(u' ');
            break;
        case '\\':
            out.push_back(u'\\');
            break;
        case 'u': {
            unsigned value = 0;
            for (int i = 0; i < 4; ++i) {
                const int digit = pos < text.size() ? hexDigit(text[pos]) : -1;
                if (digit < 0) {
                    why = "\\u needs four hexadecimal digits";
                    return false;
                }
                value = value * 16 + static_cast<unsigned>(digit);
                ++pos;
            }
            if (value == 0) {
                why = "\\u0000 would end the string";
                return false;
            }
            out.push_back(static_cast<char16_t>(value));
            break;
        }
        default:
            why = std::string("unknown escape \\") + escape;
            return false;
        }
    }
    return true;
}

} // namespace

bool parseResId(const std::string& text, std::uint32_t& id) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || isBlank(text[0]))
        return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (end != text.c_str() + text.size() || value > 0xFFFFFFFFull)
        return false;
    id = static_cast<std::uint32_t>(value);
    return true;
}

bool parseModuleSource(const std::string& source, ResStringMap& strings, std::string& error) {
    std::size_t begin = 0;
    if (source.compare(0, 3, "\xEF\xBB\xBF") == 0)
        begin = 3;
    int lineNumber = 0;
    while (begin < source.size()) {
        std::size_t end = source.find('\n', begin);
        if (end == std::string::npos)
            end = source.size();
        const std::string line = trimmed(source.substr(begin, end - begin));
        begin = end + 1;
        ++lineNumber;
        if (line.empty() || line[0] == '#')
            continue;

        const auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        };
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            return fail("expected ID = TEXT");
        std::uint32_t id = 0;
        if (!parseResId(trimmed(line.substr(0, equals)), id))
            return fail("the identifier is not a decimal or 0x-hexadecimal number");
        // 0 names no string, and identifiers with bit 31 set never reach a block.
        if (id == 0 || (id & 0x80000000u) != 0)
            return fail("identifiers run from 1 to 0x7FFFFFFF");
        if (strings.count(id) != 0)
            return fail("identifier given twice");
        std::u16string text;
        std::string why;
        if (!parseText(trimmed(line.substr(equals + 1)), text, why))
            return fail(why);
        strings.emplace(id, std::move(text));
    }
    return true;
}

