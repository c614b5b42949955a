// The block cache of the string lookup: its ten most recently used decoded
// blocks, front first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct ResBlock;

constexpr std::size_t kResCacheBlocks = 10;

// The cache itself; only the lookup reorders it. Position 0 is the front.
[[nodiscard]] std::vector<std::unique_ptr<ResBlock>>& resBlockCache();

namespace testing {
// Releases every cached block, registered module and failed key, so that the
// next lookup reads the module files again.
void resetStringResources();
} // namespace testing
