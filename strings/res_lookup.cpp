#include "strings/res_cache.h"
#include "strings/res_decode.h"
#include "strings/res_module.h"
#include "strings/res_string.h"

#include <atomic>
#include <memory>
#include <utility>

namespace {

std::atomic<CurrentLanguageFn> languageSource{nullptr};
const char16_t emptyText[1] = {0};

constexpr std::uint32_t kUnaddressableBit = 0x80000000;

const char16_t* nonEmpty(const ResBlock& block, std::uint32_t position) {
    if (position >= block.count())
        return nullptr;
    const char16_t* text = block.strings[position];
    return text != nullptr && text[0] != 0 ? text : nullptr;
}

// One pass of the lookup: the string at id in module m, through the cache.
const char16_t* lookInModule(ResModule& m, std::uint32_t id) {
    // Bit 31 would otherwise land on bit 22 of the block number and could
    // match a real block.
    const bool addressable = (id & kUnaddressableBit) == 0;
    const std::uint32_t blockNumber = id >> 9;
    const std::uint32_t position = id & 0x1FF;
    const std::uint32_t key = m.header.moduleKey();
    auto& cache = resBlockCache();

    if (addressable) {
        for (std::size_t i = cache.size(); i-- > 0;) {
            ResBlock& block = *cache[i];
            if (block.moduleKey != key || block.blockNumber != blockNumber)
                continue;
            if (position >= block.count() || block.strings[position] == nullptr)
                return nullptr;
            if (i != 0)
                std::swap(cache[i], cache[0]);
            return nonEmpty(*cache[0], position);
        }
    }

    if (!loadResIndex(m))
        return nullptr;
    const ResIndexEntry* entry = nullptr;
    if (addressable) {
        for (auto it = m.index.rbegin(); it != m.index.rend(); ++it) {
            if (it->blockNumber() == blockNumber) {
                entry = &*it;
                break;
            }
        }
    }
    if (entry == nullptr)
        return nullptr;

    const std::int64_t start = static_cast<std::uint32_t>(m.header.dataBase() + entry->blockOffset);
    const std::int64_t length = entry->length();
    std::vector<std::uint8_t> bytes;
    if (m.reader(m.name.data(), bytes, start, start + length) != length ||
        static_cast<std::int64_t>(bytes.size()) != length)
        return nullptr;

    const bool coded = m.header.dictionaryLength() != 0;
    // A dictionary that cannot be read whole fails the pass like an unreadable
    // block: nothing is cached, so the next lookup tries again instead of
    // finding an empty block.
    if (coded && !loadResDictionary(m))
        return nullptr;

    cache.push_back(std::make_unique<ResBlock>());
    ResBlock& block = *cache.back();
    block.moduleKey = key;
    block.blockNumber = blockNumber;
    const ResBytes tree{m.dictionary.data(), m.dictionary.size()};
    decodeResBlock(block, ResBytes{bytes.data(), bytes.size()}, coded ? &tree : nullptr,
                   entry->highestPosition());
    if (cache.size() > 1)
        std::swap(cache.back(), cache.front());
    // The newest block now sits at the front, so the one dropped here is the
    // one that was at the front before this load.
    while (cache.size() > kResCacheBlocks)
        cache.erase(cache.begin() + kResCacheBlocks);
    return nonEmpty(*cache.front(), position);
}

} // namespace

void setCurrentLanguageSource(CurrentLanguageFn source) {
    languageSource.store(source);
}

std::int32_t currentLanguage() {
    const CurrentLanguageFn source = languageSource.load();
    return source ? source() : 1;
}

const char16_t* getResString(std::uint32_t id, std::int32_t language) {
    if (id == 0)
        return emptyText;
    if (language == 0)
        language = currentLanguage();

    ResModule* primary = findResModule(language, true);
    if (primary == nullptr)
        primary = findResModule(language, false);
    if (primary == nullptr)
        primary = findResModule(1, true);
    if (primary == nullptr)
        primary = findResModule(1, false);
    if (primary == nullptr)
        return nullptr;

    // Copied: the fix-up made the list final, and a pass must not see it move.
    std::uint32_t slots[4];
    for (int slot = 0; slot < 4; ++slot)
        slots[slot] = primary->header.languageSlot(slot);
    for (const std::uint32_t f : slots) {
        if (f == 0)
            continue;
        for (const bool override : {true, false}) {
            ResModule* m = findResModule(static_cast<std::int32_t>(f), override);
            if (m == nullptr)
                continue;
            if (const char16_t* text = lookInModule(*m, id))
                return text;
        }
    }
    return nullptr;
}
