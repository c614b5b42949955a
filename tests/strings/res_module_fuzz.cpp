// libFuzzer target: one input is the English module file followed by nothing
// else; every lookup of a spread of identifiers must stay inside its bytes.
#include "res_module.h"
#include "res_string.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {
const std::uint8_t* inputData = nullptr;
std::size_t inputSize = 0;

std::int64_t readInput(const char16_t*, std::vector<std::uint8_t>& out, std::int64_t start,
                       std::int64_t end) {
    out.clear();
    const std::int64_t bound = end < std::int64_t(inputSize) ? end : std::int64_t(inputSize);
    if (start < 0 || start >= bound)
        return 0;
    out.assign(inputData + start, inputData + bound);
    return bound - start;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    inputData = data;
    inputSize = size;
    resetStringResources();
    setResourceReader(readInput);
    const std::uint32_t ids[] = {1,     2,     5,      0x14,       0x1FF,     0x200,
                                 0x209, 0x291, 0x1E5E, 0x7FFFFFFF, 0x80000001};
    for (int round = 0; round < 2; ++round)
        for (const std::uint32_t id : ids)
            (void)getResString(id, 1);
    return 0;
}
