// Placeholder until the modules land: no text is ever found, so the English
// literals show.
#include "res_string.h"

#include <atomic>

namespace {
std::atomic<CurrentLanguageFn> languageSource{nullptr};
const char16_t emptyText[1] = {0};
} // namespace

void setCurrentLanguageSource(CurrentLanguageFn source) {
    languageSource.store(source);
}

std::int32_t currentLanguage() {
    const CurrentLanguageFn source = languageSource.load();
    return source ? source() : 1;
}

const char16_t* getResString(std::uint32_t id, std::int32_t) {
    return id == 0 ? emptyText : nullptr;
}
