#include "strings/res_module.h"

#include "base/byte_order.h"

#include "strings/language_table.h"
#include "strings/res_text.h"

#include <algorithm>

namespace {

// Both registries only grow while the process runs; the destructors of these
// vectors release every module at exit.
std::vector<std::unique_ptr<ResModule>>& loadedModules() {
    static std::vector<std::unique_ptr<ResModule>> modules;
    return modules;
}

std::vector<std::uint64_t>& failedKeys() {
    static std::vector<std::uint64_t> keys;
    return keys;
}

ResReadFn& moduleReader() {
    static ResReadFn reader = readResourceFile;
    return reader;
}

// Every module should name English among its languages so that a text it
// lacks can still be found; the first empty slot gets it.
void fixUpLanguageList(ResModuleHeader& header) {
    for (int slot = 0; slot < 4; ++slot) {
        const std::uint32_t key = header.languageSlot(slot);
        if (key == static_cast<std::uint32_t>(kEnglish))
            return;
        if (key == 0) {
            header.setWord(kResFieldModuleKey + 4 * static_cast<std::size_t>(slot), kEnglish);
            return;
        }
    }
}

} // namespace

std::uint32_t ResModuleHeader::word(std::size_t offset) const {
    return readLE32(bytes.data() + offset);
}

void ResModuleHeader::setWord(std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::unique_ptr<ResModule> openResModule(const char16_t* name, const ResReadFn& reader) {
    std::vector<std::uint8_t> bytes;
    if (reader(name, bytes, 0, kResMinHeaderSize) != static_cast<std::int64_t>(kResMinHeaderSize) ||
        bytes.size() < kResMinHeaderSize)
        return nullptr;
    const std::uint32_t version = readLE32(bytes.data() + kResFieldVersion);
    if (readLE32(bytes.data()) != kResMagic || (version != kResVersionA && version != kResVersionB))
        return nullptr;
    const std::uint32_t headerLength = readLE32(bytes.data() + kResFieldHeaderLength);
    if (headerLength < kResMinHeaderSize || headerLength > kResHeaderSize)
        return nullptr;

    if (reader(name, bytes, 0, headerLength) != static_cast<std::int64_t>(headerLength) ||
        bytes.size() < headerLength)
        return nullptr;
    // A shorter header is widened: fields it does not store read as 0. The
    // second read's length field decides, as that is the header in hand.
    const std::uint32_t storedLength = readLE32(bytes.data() + kResFieldHeaderLength);
    auto module = std::make_unique<ResModule>();
    std::copy_n(bytes.begin(), headerLength, module->header.bytes.begin());
    if (storedLength < kResHeaderSize)
        module->header.setWord(kResFieldHeaderLength, kResHeaderSize);
    fixUpLanguageList(module->header);

    ResTextBuilder builder = resTextBuilder(module->name.data(), module->name.size());
    resTextAppend(builder, name);
    module->reader = reader;
    return module;
}

bool resModuleFileName(std::int32_t language, char16_t* buffer) {
    ResTextBuilder builder = resTextBuilder(buffer, kResFileNameUnits);
    if (!isValidLanguage(language))
        return false;
    const char* code = languageTable[language - 1].matchCode;
    const char16_t letters[3] = {resToUpper(static_cast<char16_t>(code[0])),
                                 static_cast<char16_t>(code[1]), 0};
    resTextAppend(builder, u"Help");
    resTextAppend(builder, letters);
    resTextAppend(builder, u".orvaneresource");
    return true;
}

ResModule* findResModule(std::int32_t language, bool override) {
    const std::uint32_t key =
        static_cast<std::uint32_t>(language) | (override ? kResOverrideBit : 0u);

    auto& modules = loadedModules();
    for (auto it = modules.rbegin(); it != modules.rend(); ++it) {
        if ((*it)->header.moduleKey() == key)
            return it->get();
    }
    auto& failed = failedKeys();
    if (std::find(failed.rbegin(), failed.rend(), key) != failed.rend())
        return nullptr;

    char16_t fileName[kResFileNameUnits];
    if (!resModuleFileName(language, fileName)) {
        failed.push_back(key);
        return nullptr;
    }
    std::unique_ptr<ResModule> module = openResModule(fileName, moduleReader());
    if (module && module->header.moduleKey() == key) {
        modules.push_back(std::move(module));
        return modules.back().get();
    }
    failed.push_back(key);
    return nullptr;
}

bool loadResIndex(ResModule& module) {
    if (module.indexLoaded)
        return true;
    const std::int32_t count = std::max<std::int32_t>(module.header.indexCount(), 0);
    const std::int64_t start = module.header.indexOffset();
    const std::int64_t length = static_cast<std::int64_t>(kResIndexEntrySize) * count;
    std::vector<std::uint8_t> bytes;
    if (module.reader(module.name.data(), bytes, start, start + length) != length ||
        static_cast<std::int64_t>(bytes.size()) != length)
        return false;
    module.index.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < module.index.size(); ++i) {
        const std::uint8_t* p = bytes.data() + i * kResIndexEntrySize;
        module.index[i] = ResIndexEntry{readLE32(p), readLE32(p + 4), readLE32(p + 8)};
    }
    module.indexLoaded = true;
    return true;
}

bool loadResDictionary(ResModule& module) {
    if (module.dictionaryLoaded)
        return true;
    const std::uint32_t start = module.header.dictionaryOffset();
    const std::uint32_t length = module.header.dictionaryLength();
    // The end wraps at 2^32 in the file format; a wrapped range cannot be read whole.
    const std::uint32_t end = start + length;
    if (end < start)
        return false;
    std::vector<std::uint8_t> bytes;
    if (module.reader(module.name.data(), bytes, start, end) != length || bytes.size() != length)
        return false;
    module.dictionary = std::move(bytes);
    module.dictionaryLoaded = true;
    return true;
}

namespace testing {
void setResourceReader(ResReadFn reader) {
    moduleReader() = reader ? std::move(reader) : ResReadFn(readResourceFile);
}
} // namespace testing

void resetResModules() {
    loadedModules().clear();
    failedKeys().clear();
}
