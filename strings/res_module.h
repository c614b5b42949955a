// String resource module files: one per language, found through the reader,
// validated, and remembered for the life of the process together with every
// key for which no module could be found.
#pragma once

#include "strings/res_reader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

constexpr std::uint32_t kResMagic = 0xB28A617C;
constexpr std::uint32_t kResVersionA = 0xFE84125D;
constexpr std::uint32_t kResVersionB = 0xFE84125E;
constexpr std::uint32_t kResOverrideBit = 0x80;
constexpr std::size_t kResHeaderSize = 332;
constexpr std::size_t kResMinHeaderSize = 12;
constexpr std::size_t kResIndexEntrySize = 12;
constexpr std::size_t kResNameUnits = 260; // a module record's name, terminator included
constexpr std::size_t kResFileNameUnits = 32;

// Byte offsets of the header fields in the file (all little-endian 32-bit).
enum ResHeaderField : std::size_t {
    kResFieldMagic = 0,
    kResFieldVersion = 4,
    kResFieldHeaderLength = 8,
    kResFieldModuleKey = 12, // also slot 0 of the language list
    kResFieldDictionaryOffset = 40,
    kResFieldDictionaryLength = 44,
    kResFieldIndexCount = 56,
    kResFieldIndexOffset = 60,
    kResFieldDataBase = 64,
};

// The whole header as it sits in memory, always 332 bytes; a file that
// stores fewer has the rest zero-filled.
struct ResModuleHeader {
    std::array<std::uint8_t, kResHeaderSize> bytes{};

    [[nodiscard]] std::uint32_t word(std::size_t offset) const;
    void setWord(std::size_t offset, std::uint32_t value);

    [[nodiscard]] std::uint32_t moduleKey() const { return word(kResFieldModuleKey); }
    // Slot 0 is the module's own key, slots 1..3 its fallback languages.
    [[nodiscard]] std::uint32_t languageSlot(int slot) const {
        return word(kResFieldModuleKey + 4 * static_cast<std::size_t>(slot));
    }
    [[nodiscard]] std::uint32_t dictionaryOffset() const { return word(kResFieldDictionaryOffset); }
    [[nodiscard]] std::uint32_t dictionaryLength() const { return word(kResFieldDictionaryLength); }
    [[nodiscard]] std::int32_t indexCount() const {
        return static_cast<std::int32_t>(word(kResFieldIndexCount));
    }
    [[nodiscard]] std::uint32_t indexOffset() const { return word(kResFieldIndexOffset); }
    [[nodiscard]] std::uint32_t dataBase() const { return word(kResFieldDataBase); }
};

struct ResIndexEntry {
    std::uint32_t blockWord;   // bits 0-22 block number, bits 23-31 string count - 1
    std::uint32_t blockOffset; // added to the header's data base, modulo 2^32
    std::uint32_t lengthWord;  // bits 0-30 block length; bit 31 ignored

    [[nodiscard]] std::uint32_t blockNumber() const { return blockWord & 0x7FFFFF; }
    [[nodiscard]] std::uint32_t highestPosition() const { return blockWord >> 23; }
    [[nodiscard]] std::uint32_t length() const { return lengthWord & 0x7FFFFFFF; }
};

struct ResModule {
    std::array<char16_t, kResNameUnits> name{};
    ResModuleHeader header;
    // Index and dictionary are read on first need and then kept.
    bool indexLoaded = false;
    std::vector<ResIndexEntry> index;
    bool dictionaryLoaded = false;
    std::vector<std::uint8_t> dictionary;
    ResReadFn reader;
};

// Reads and validates a module's header through reader. Returns a new,
// unregistered module, or null when the file is missing or not a module.
[[nodiscard]] std::unique_ptr<ResModule> openResModule(const char16_t* name,
                                                       const ResReadFn& reader);

// The registered module for language with the override bit added when
// override is set, opening its file on first need. Null when there is none; a
// key that failed once is never looked for again. The lookup resolves
// language 0 (the current language) before it asks: here 0 names no module.
[[nodiscard]] ResModule* findResModule(std::int32_t language, bool override);

// The module file name of a language 1..8, "Help" + code + ".orvaneresource",
// into a buffer of kResFileNameUnits units. False for other languages.
[[nodiscard]] bool resModuleFileName(std::int32_t language, char16_t* buffer);

// Reads the module's index, or its dictionary, when not yet held. False when
// the reader did not deliver exactly the bytes asked for; a later call tries again.
[[nodiscard]] bool loadResIndex(ResModule& module);
[[nodiscard]] bool loadResDictionary(ResModule& module);

// Releases every registered module and failed key (the cache holds blocks of
// them: see testing::resetStringResources).
void resetResModules();

namespace testing {
// The reader that findResModule hands to new modules (readResourceFile by
// default; an empty function restores it), for tests and fuzzers.
void setResourceReader(ResReadFn reader);
} // namespace testing
