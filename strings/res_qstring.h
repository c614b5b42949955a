// The Qt face of the string lookup and of the UTF-16 buffers.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

// getResString's text as a QString; empty when nothing was found.
[[nodiscard]] QString getResQString(std::uint32_t id, std::int32_t language);

// Copies text's UTF-16 units and a terminator into buffer, which must hold
// text.size() + 1 units. Returns the number of units copied.
std::int32_t toWideBuffer(const QString& text, char16_t* buffer);

// UTF-16 units taken as they are. QString::fromUtf16 reads a leading U+FEFF
// or U+FFFE as a byte-order mark (dropping the unit, or swapping every
// unit), which would change a text that merely begins with one. A null text
// gives an empty string; the second form stops at the first zero unit.
[[nodiscard]] QString qStringFromUtf16(const char16_t* text, std::size_t length);
[[nodiscard]] QString qStringFromUtf16(const char16_t* text);
[[nodiscard]] QString qStringFromUtf16(const std::u16string& text);
