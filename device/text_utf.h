// UTF-8 / UTF-16 conversion for the device layer's paths and texts.
#pragma once

#include <string>

// Unpaired surrogates and invalid sequences become U+FFFD.
[[nodiscard]] std::string toUtf8(const std::u16string& text);
[[nodiscard]] std::u16string toUtf16(const std::string& text);

// Length of a zero-terminated UTF-16 text, counting no further than limit.
[[nodiscard]] std::size_t boundedLength(const char16_t* text, std::size_t limit);
