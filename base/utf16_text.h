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
