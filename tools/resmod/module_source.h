// The translators' source of one string module: UTF-8 text, one string per
// line as "ID = TEXT" (see README.md).
#pragma once

#include <cstdint>
#include <map>
#include <string>

using ResStringMap = std::map<std::uint32_t, std::u16string>;

// Parses source into strings. On failure returns false and sets error to a
// message naming the line.
[[nodiscard]] bool parseModuleSource(const std::string& source, ResStringMap& strings,
                                     std::string& error);

// Reads a string identifier, decimal or 0x-hexadecimal, the whole of text.
[[nodiscard]] bool parseResId(const std::string& text, std::uint32_t& id);

