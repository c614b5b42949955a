#include "strings/res_decode.h"

#include "base/byte_order.h"

#include "strings/res_text.h"

namespace {

constexpr std::size_t kGrowthUnits = 1024;

// Bits of the block, least significant bit of each byte first.
class BitReader {
public:
    explicit BitReader(ResBytes bytes) : bytes_(bytes) {}

    // False once the input is used up.
    bool next(unsigned& bit) {
        if (pending_ == 0) {
            if (pos_ >= bytes_.size)
                return false;
            current_ = bytes_.data[pos_++];
            pending_ = 8;
        }
        bit = current_ & 1u;
        current_ >>= 1;
        --pending_;
        return true;
    }

    // A string's code ends on a byte boundary, and one filler byte follows.
    void endString() {
        pending_ = 0;
        if (pos_ < bytes_.size)
            ++pos_;
    }

private:
    ResBytes bytes_;
    std::size_t pos_ = 0;
    unsigned current_ = 0;
    unsigned pending_ = 0;
};

enum class Walk { Symbol, EndOfInput, Corrupt };

Walk decodeSymbol(BitReader& bits, ResBytes tree, char16_t& symbol) {
    std::size_t node = 0;
    for (;;) {
        unsigned bit = 0;
        if (!bits.next(bit))
            return Walk::EndOfInput;
        // Every node is checked against the dictionary's end before it is read:
        // a hostile skip must not take the walk outside it.
        if (node >= tree.size || tree.size - node < 3)
            return Walk::Corrupt;
        const std::uint8_t type = tree.data[node];
        const std::uint16_t value = readLE16(tree.data + node + 1);
        switch (type) {
        case kResNodeBranch:
            node += bit == 0 ? 3 : 3 + std::size_t{value};
            break;
        case kResNodeLeafOnOne:
            if (bit == 0) {
                node += 3;
                break;
            }
            symbol = value;
            return Walk::Symbol;
        case kResNodeLeafOnZero:
            if (bit != 0) {
                node += 3;
                break;
            }
            symbol = value;
            return Walk::Symbol;
        case kResNodeTwoLeaves:
            if (tree.size - node < 5)
                return Walk::Corrupt;
            symbol = bit == 0 ? value : readLE16(tree.data + node + 3);
            return Walk::Symbol;
        default:
            symbol = value;
            return Walk::Symbol;
        }
    }
}

void decodeCoded(ResBlock& block, ResBytes bytes, ResBytes tree) {
    std::vector<char16_t>& out = block.text;
    out.clear();
    out.reserve(kGrowthUnits + 1);
    std::size_t found = 0;
    BitReader bits(bytes);
    for (;;) {
        char16_t symbol = 0;
        const Walk walk = decodeSymbol(bits, tree, symbol);
        if (walk == Walk::Corrupt) {
            out.assign(1, 0);
            block.strings.clear();
            return;
        }
        if (walk == Walk::EndOfInput)
            break;
        if (symbol == kResDroppedSymbol)
            continue;
        if (out.size() == out.capacity() - 1)
            out.reserve(out.capacity() + kGrowthUnits);
        out.push_back(symbol);
        if (symbol == 0) {
            ++found;
            bits.endString();
        }
    }
    // A string cut off by the end of the input keeps its units but gets no entry.
    out.push_back(0);
    block.strings.clear();
    block.strings.reserve(found);
    const char16_t* start = out.data();
    for (std::size_t i = 0; i < found; ++i) {
        block.strings.push_back(start);
        start = resTextEnd(start) + 1;
    }
}

void decodePlain(ResBlock& block, ResBytes bytes, std::uint32_t highestPosition) {
    const std::size_t n = bytes.size / 2;
    std::vector<char16_t>& out = block.text;
    out.assign(n + 1, 0);
    resCopyLE16(out.data(), bytes.data, n);
    block.strings.clear();
    const std::size_t limit = std::size_t{highestPosition} + 1;
    std::size_t cur = 0;
    while (cur <= n && block.strings.size() < limit) {
        const char16_t* start = out.data() + cur;
        block.strings.push_back(start);
        cur += static_cast<std::size_t>(resTextLength(start)) + 1;
    }
}

} // namespace

void decodeResBlock(ResBlock& block, ResBytes bytes, const ResBytes* dictionary,
                    std::uint32_t highestPosition) {
    if (dictionary != nullptr)
        decodeCoded(block, bytes, *dictionary);
    else
        decodePlain(block, bytes, highestPosition);
}
