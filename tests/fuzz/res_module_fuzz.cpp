// libFuzzer target: one input is a whole module file, served for every
// language's file name. Opening it and looking up a spread of identifiers,
// twice so that the second round runs through the block cache, must stay
// inside its bytes, and a text handed out must end inside the block it
// came from.
#include "fuzz_check.h"

#include "base/byte_order.h"
#include "strings/res_cache.h"
#include "strings/res_module.h"
#include "strings/res_string.h"
#include "strings/res_text.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {
const std::uint8_t* inputData = nullptr;
std::size_t inputSize = 0;
std::int32_t inputLanguage = 1;

std::int64_t readInput(const char16_t*, std::vector<std::uint8_t>& out, std::int64_t start,
                       std::int64_t end) {
    out.clear();
    const std::int64_t bound = end < std::int64_t(inputSize) ? end : std::int64_t(inputSize);
    if (start < 0 || start >= bound)
        return 0;
    out.assign(inputData + start, inputData + bound);
    return bound - start;
}

std::int32_t languageOfInput() {
    return inputLanguage;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    inputData = data;
    inputSize = size;
    // The module's own key names the language asked for, so that every seed
    // module is found (key 3 is looked up as French, 0x83 as French override).
    inputLanguage = size >= 13 ? std::int32_t(data[12] & 0x7F) : 1;
    testing::resetStringResources();
    testing::setResourceReader(readInput);
    setCurrentLanguageSource(languageOfInput);

    if (auto module = openResModule(u"HelpEn.orvaneresource", readInput)) {
        // English joins the language list in its first empty slot, when the
        // file leaves one; bytes beyond the stored header count as zero.
        const std::uint32_t headerLength = readLE32(data + 8);
        bool englishExpected = false;
        for (std::size_t slot = 0; slot < 4; ++slot) {
            std::uint8_t bytes[4] = {};
            for (std::size_t i = 0; i < 4; ++i) {
                const std::size_t at = 12 + 4 * slot + i;
                bytes[i] = at < headerLength ? data[at] : 0;
            }
            const std::uint32_t stored = readLE32(bytes);
            englishExpected = englishExpected || stored == 0 || stored == 1;
        }
        bool namesEnglish = false;
        for (int slot = 0; slot < 4; ++slot)
            namesEnglish = namesEnglish || module->header.languageSlot(slot) == 1;
        FUZZ_CHECK(namesEnglish == englishExpected);
        if (loadResIndex(*module))
            FUZZ_CHECK(module->index.size() * kResIndexEntrySize <= size);
        if (loadResDictionary(*module))
            FUZZ_CHECK(module->dictionary.size() == module->header.dictionaryLength());
    }

    const std::uint32_t ids[] = {1,     2,     5,     0x14,   0x1FF,      0x200,     0x201,
                                 0x209, 0x26E, 0x291, 0x1E5E, 0x7FFFFFFF, 0x80000001};
    const std::int32_t languages[] = {0, 1, 3};
    for (int round = 0; round < 2; ++round) {
        for (const std::int32_t language : languages) {
            for (const std::uint32_t id : ids) {
                const char16_t* text = getResString(id, language);
                if (text != nullptr)
                    FUZZ_CHECK(resTextLength(text) >= 0);
            }
        }
    }
    setCurrentLanguageSource(nullptr);
    return 0;
}
