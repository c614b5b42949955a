// A window on the block cache for tests and tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::size_t kResCacheBlocks = 10;

struct ResBlockTag {
    std::uint32_t moduleKey;
    std::uint32_t blockNumber;
    bool operator==(const ResBlockTag& other) const {
        return moduleKey == other.moduleKey && blockNumber == other.blockNumber;
    }
};

// The tags of the cached blocks, front (position 0) first.
[[nodiscard]] std::vector<ResBlockTag> resCachedBlocks();
