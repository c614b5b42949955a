// Little-endian fields, as the string modules, the control sector and the
// tools that write them store numbers: byte 0 is the lowest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

[[nodiscard]] inline std::uint16_t readLE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

[[nodiscard]] inline std::uint32_t readLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void writeLE16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void writeLE32(std::uint8_t* p, std::uint32_t value) {
    writeLE16(p, static_cast<std::uint16_t>(value));
    writeLE16(p + 2, static_cast<std::uint16_t>(value >> 16));
}

inline void appendLE16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    const std::size_t at = out.size();
    out.resize(at + 2);
    writeLE16(out.data() + at, value);
}

inline void appendLE32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    const std::size_t at = out.size();
    out.resize(at + 4);
    writeLE32(out.data() + at, value);
}
