// libFuzzer target for the block decoder alone. Input:
//   byte 0        bit 0 set: coded (with the dictionary), clear: plain
//   bytes 1-2     highest string position, little-endian, 9 bits used
//   bytes 3-6     dictionary length, little-endian (cut to what follows)
//   then          the dictionary, then the block's bytes
// Dictionary and block are copied into buffers of their exact size so that
// AddressSanitizer sees the first byte read past either of them.
#include "base/byte_order.h"
#include "fuzz_check.h"
#include "strings/res_decode.h"
#include "strings/res_text.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<std::uint8_t[]> exactCopy(const std::uint8_t* data, std::size_t size) {
    auto copy = std::make_unique<std::uint8_t[]>(size);
    if (size != 0)
        std::memcpy(copy.get(), data, size);
    return copy;
}

// Every entry starts inside the text buffer right after the previous
// string's zero unit, and the buffer ends in a zero unit, so no string can
// run past it.
void checkLayout(const ResBlock& block) {
    FUZZ_CHECK(!block.text.empty() && block.text.back() == 0);
    const char16_t* begin = block.text.data();
    const char16_t* end = begin + block.text.size();
    const char16_t* expected = begin;
    for (const char16_t* s : block.strings) {
        FUZZ_CHECK(s == expected);
        FUZZ_CHECK(s >= begin && s < end);
        expected = resTextEnd(s) + 1;
        FUZZ_CHECK(expected <= end);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 7)
        return 0;
    const bool coded = (data[0] & 1) != 0;
    const std::uint32_t highest = readLE16(data + 1) & 0x1FFu;
    std::size_t dictLength = readLE32(data + 3);
    data += 7;
    size -= 7;
    if (dictLength > size)
        dictLength = size;
    const auto dict = exactCopy(data, dictLength);
    const std::size_t blockLength = size - dictLength;
    const auto bytes = exactCopy(data + dictLength, blockLength);
    const ResBytes tree{dict.get(), dictLength};
    const ResBytes input{bytes.get(), blockLength};

    ResBlock block;
    decodeResBlock(block, input, coded ? &tree : nullptr, highest);
    checkLayout(block);

    if (coded) {
        // Each string costs at least one bit, hence at least one byte; the
        // dropped carriage return never reaches the text.
        FUZZ_CHECK(block.count() <= blockLength);
        for (const char16_t unit : block.text)
            FUZZ_CHECK(unit != kResDroppedSymbol);
    } else {
        // The plain text is the bytes themselves; strings start at unit 0 and
        // after every zero unit before unit n, at most highest + 1 of them.
        const std::size_t n = blockLength / 2;
        FUZZ_CHECK(block.text.size() == n + 1);
        std::size_t zeros = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const char16_t unit = char16_t(readLE16(bytes.get() + 2 * k));
            FUZZ_CHECK(block.text[k] == unit);
            zeros += unit == 0;
        }
        const std::size_t starts = zeros + 1;
        FUZZ_CHECK(block.count() == (starts < highest + 1 ? starts : highest + 1));
    }

    // A block that held other strings decodes to the same result.
    ResBlock reused;
    reused.text.assign(3000, u'x');
    reused.strings.assign(700, nullptr);
    decodeResBlock(reused, input, coded ? &tree : nullptr, highest);
    FUZZ_CHECK(reused.text == block.text);
    FUZZ_CHECK(reused.count() == block.count());
    return 0;
}
