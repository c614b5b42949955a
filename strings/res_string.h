// Looking up the user-visible texts by 32-bit string identifier.
#pragma once

#include <cstdint>

// Language 0 asks for the current language. The dialog names the source of
// that value once at start-up; until then, and without a source, it is 1.
using CurrentLanguageFn = std::int32_t (*)();
void setCurrentLanguageSource(CurrentLanguageFn source);
[[nodiscard]] std::int32_t currentLanguage();

// The zero-terminated UTF-16 text of identifier id, or null when no module
// holds a non-empty text for it. The pointer is valid only until the next
// call: copy the text at once. Identifier 0 gives an empty text.
[[nodiscard]] const char16_t* getResString(std::uint32_t id, std::int32_t language);
