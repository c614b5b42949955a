// The eight user-interface languages. Identifiers run from 1 to 8; 1 (English)
// stands in for every invalid or unmatched value.
#pragma once

#include <cstdint>

struct LanguageInfo {
    std::uint32_t numericCode;
    char matchCode[4]; // two lower-case ASCII letters, zero padded
    const char* abbreviation;
    const char* localeTag;
    const char* displayName; // Latin-1
};

constexpr int kFirstLanguage = 1;
constexpr int kLastLanguage = 8;
constexpr int kEnglish = 1;

// Row i describes language identifier i + 1.
extern const LanguageInfo languageTable[kLastLanguage];

[[nodiscard]] constexpr bool isValidLanguage(std::int32_t language) {
    return language >= kFirstLanguage && language <= kLastLanguage;
}
