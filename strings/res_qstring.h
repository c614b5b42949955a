// The Qt face of the string lookup and of the UTF-16 buffers.
#pragma once

#include <QString>

#include <cstdint>

// getResString's text as a QString; empty when nothing was found.
[[nodiscard]] QString getResQString(std::uint32_t id, std::int32_t language);

// Copies text's UTF-16 units and a terminator into buffer, which must hold
// text.size() + 1 units. Returns the number of units copied.
std::int32_t toWideBuffer(const QString& text, char16_t* buffer);
