// Writes string resource module files that the lookup reads back.
#pragma once

#include "module_source.h"

#include <cstdint>
#include <string>
#include <vector>

struct ModuleSpec {
    std::uint32_t key = 1;                // language, plus 0x80 for an override module
    std::vector<std::uint32_t> fallbacks; // language-list slots 1 to 3, most preferred first
    bool plain = false;                   // UTF-16 blocks instead of coded ones
    ResStringMap strings;                 // identifier -> text
};

// Builds the whole module file. Fails (with a reason) when the module cannot be
// written: more than three fallbacks, an identifier that cannot be stored, a
// text holding a zero unit, or a code tree too large for 16-bit skips.
[[nodiscard]] bool writeModule(const ModuleSpec& spec, std::vector<std::uint8_t>& file,
                               std::string& error);
