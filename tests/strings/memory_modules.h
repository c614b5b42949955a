// Module files held in memory and served through the lookup's reader seam,
// with a count of every read so that tests can tell when files are touched.
#pragma once

#include "module_writer.h"

#include "base/byte_order.h"
#include "strings/res_cache.h"
#include "strings/res_module.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class MemoryModules {
public:
    // Installs the reader and forgets every module, failed key and block.
    MemoryModules() {
        testing::resetStringResources();
        testing::setResourceReader(
            [this](const char16_t* name, std::vector<std::uint8_t>& out, std::int64_t start,
                   std::int64_t end) { return read(name, out, start, end); });
    }
    ~MemoryModules() {
        testing::setResourceReader({});
        testing::resetStringResources();
    }
    MemoryModules(const MemoryModules&) = delete;
    MemoryModules& operator=(const MemoryModules&) = delete;

    std::int64_t read(const char16_t* name, std::vector<std::uint8_t>& out, std::int64_t start,
                      std::int64_t end) {
        ++reads;
        out.clear();
        if (start == failingStart)
            return 0;
        const auto it = files.find(name);
        if (it == files.end())
            return 0;
        const std::int64_t bound = std::min<std::int64_t>(end, std::int64_t(it->second.size()));
        if (start < 0 || start >= bound)
            return 0;
        out.assign(it->second.begin() + start, it->second.begin() + bound);
        return bound - start;
    }

    std::map<std::u16string, std::vector<std::uint8_t>> files;
    int reads = 0;
    std::int64_t failingStart = -1; // reads from this offset deliver nothing
};

inline std::u16string moduleFileName(std::int32_t language) {
    char16_t name[kResFileNameUnits];
    return resModuleFileName(language, name) ? std::u16string(name) : std::u16string();
}

inline std::vector<std::uint8_t> buildModule(std::uint32_t key,
                                             std::vector<std::uint32_t> fallbacks,
                                             ResStringMap strings, bool plain = false) {
    ModuleSpec spec;
    spec.key = key;
    spec.fallbacks = std::move(fallbacks);
    spec.strings = std::move(strings);
    spec.plain = plain;
    std::vector<std::uint8_t> file;
    std::string error;
    if (!writeModule(spec, file, error))
        file.clear();
    return file;
}

inline std::uint32_t wordAt(const std::vector<std::uint8_t>& file, std::size_t offset) {
    return readLE32(file.data() + offset);
}

inline void setWordAt(std::vector<std::uint8_t>& file, std::size_t offset, std::uint32_t value) {
    writeLE32(file.data() + offset, value);
}

// The language that language 0 stands for while a test runs.
inline std::int32_t& testCurrentLanguage() {
    static std::int32_t language = 1;
    return language;
}
inline std::int32_t testCurrentLanguageSource() {
    return testCurrentLanguage();
}
