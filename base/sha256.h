// SHA-256 (FIPS 180-4): the digest that fixes a firmware image when it is
// checked, and that SHA256SUMS files list. Plain C++17.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    void add(const void* data, std::size_t length);
    // The digest of everything added; the object is spent afterwards.
    [[nodiscard]] Digest finish();

    // Lower-case hexadecimal, as sha256sum writes it.
    [[nodiscard]] static std::string hex(const Digest& digest);

private:
    void block(const std::uint8_t* data);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingLength_ = 0;
    std::uint64_t totalLength_ = 0;
};
