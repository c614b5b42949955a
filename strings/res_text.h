// Small routines over zero-terminated UTF-16 text, shared by the string
// resources and their users. None of them holds state or fails.
#pragma once

#include <cstddef>
#include <cstdint>

// Appends into a caller's buffer without ever writing past it: a text that
// does not fit is cut without notice.
struct ResTextBuilder {
    std::uint64_t remaining; // units that may still be appended, terminator excluded
    char16_t* start;
    char16_t* cursor;
};

// A builder over a buffer of units code units (units >= 1); the buffer starts
// out as the empty text.
[[nodiscard]] ResTextBuilder resTextBuilder(char16_t* buffer, std::size_t units);

// Appends text (null appends nothing) and keeps the result terminated.
void resTextAppend(ResTextBuilder& builder, const char16_t* text);

// Units before the first zero unit; 0 for a null text.
[[nodiscard]] std::int64_t resTextLength(const char16_t* text);

// The terminating zero unit of text; null for a null text.
[[nodiscard]] const char16_t* resTextEnd(const char16_t* text);

// dest[k] = src[2k] + 256 * src[2k + 1] for k in 0..count-1.
void resCopyLE16(char16_t* dest, const std::uint8_t* src, std::size_t count);

// The upper-case unit of c; units without one come back unchanged.
[[nodiscard]] char16_t resToUpper(char16_t c);

// One range of the upper-case table. A delta of -1 marks an alternating range
// in which only the units at an even distance from first move down by one.
struct ResUpperCaseRow {
    std::uint16_t first;
    std::uint16_t last;
    std::int32_t delta;
};

constexpr std::size_t kResUpperCaseRows = 166;
// Ascending by first unit, ended by a row whose first unit is 0.
extern const ResUpperCaseRow resUpperCaseTable[kResUpperCaseRows + 1];
