// Decoded blocks of strings and the decoder of a block's two encodings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Up to 512 strings of one block of one module, decoded.
struct ResBlock {
    std::uint32_t moduleKey = 0;
    std::uint32_t blockNumber = 0;
    std::vector<char16_t> text; // every string followed by its zero unit
    // String starts into text, by position; an entry may be null.
    std::vector<const char16_t*> strings;

    [[nodiscard]] std::size_t count() const { return strings.size(); }
};

struct ResBytes {
    const std::uint8_t* data;
    std::size_t size;
};

// Fills block from the block's bytes. With a dictionary (a code tree) the
// bytes are coded; without one (null) they are plain little-endian UTF-16, of
// which at most highestPosition + 1 strings are taken. A block that would
// make the decoder leave the dictionary ends up holding no strings.
void decodeResBlock(ResBlock& block, ResBytes bytes, const ResBytes* dictionary,
                    std::uint32_t highestPosition);

// Code tree node types of a module's dictionary.
enum ResNodeType : std::uint8_t {
    kResNodeBranch = 0,     // 16-bit skip: bit 0 -> next node, bit 1 -> node + 3 + skip
    kResNodeLeafOnOne = 1,  // symbol: bit 0 -> next node, bit 1 -> symbol
    kResNodeLeafOnZero = 2, // symbol: bit 0 -> symbol, bit 1 -> next node
    kResNodeTwoLeaves = 3,  // symbols A, B: bit 0 -> A, bit 1 -> B
    kResNodeOnlyLeaf = 4,   // symbol on either bit (4 to 255)
};
constexpr char16_t kResDroppedSymbol = 13;
