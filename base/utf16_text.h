// UTF-16 text helpers shared by every layer: conversion to and from UTF-8 for
// paths and messages, and the length of a zero-terminated text.
#pragma once

#include <cstddef>
#include <string>

// Unpaired surrogates and invalid sequences become U+FFFD.
[[nodiscard]] std::string toUtf8(const std::u16string& text);
[[nodiscard]] std::u16string toUtf16(const std::string& text);

// Length of a zero-terminated UTF-16 text, counting no further than limit;
// 0 for a null text.
[[nodiscard]] std::size_t boundedLength(const char16_t* text, std::size_t limit);

// File names as the kernel keeps them: bytes with no promised encoding. Valid
// UTF-8 is decoded; every other byte b becomes the lone unit 0xDC00 + b, which
// valid UTF-8 never yields, so byteNameFromUtf16 gives the same bytes back and
// two names that differ only in invalid bytes stay two names.
[[nodiscard]] std::u16string utf16FromByteName(const std::string& name);
[[nodiscard]] std::string byteNameFromUtf16(const std::u16string& name);

// The text as a terminal may show it: every character a terminal would act on
// (C0 and C1 controls, DEL) and every unit that is not text (a lone surrogate,
// such as the bytes that utf16FromByteName keeps) is written as \n, \r, \t or
// \xNN, so that a name can neither break a line nor move the cursor.
[[nodiscard]] std::u16string escapedForDisplay(const std::u16string& text);
// The same for bytes meant as UTF-8 (a log line, a device name): invalid
// bytes are escaped too, and the result is valid UTF-8.
[[nodiscard]] std::string escapedForDisplay(const std::string& bytes);
