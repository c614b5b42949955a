// The one way bytes of a string resource module are read.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// Reads bytes start up to the smaller of end (exclusive) and the file size of
// the module file name. out is replaced by the bytes delivered; the result is
// their number, 0 for a missing file or an empty range. Callers ask for exact
// lengths and treat any other count as failure.
using ResReadFn = std::function<std::int64_t(const char16_t* name, std::vector<std::uint8_t>& out,
                                             std::int64_t start, std::int64_t end)>;

// Longest range a module read may deliver; a longer one delivers nothing.
constexpr std::int64_t kMaxResourceRead = 16 << 20;

// The reader over the "resource:" search path, the folder "resource" beside
// the executable. The file is opened and closed again within each call; only
// a regular file (links followed) is read.
std::int64_t readResourceFile(const char16_t* name, std::vector<std::uint8_t>& out,
                              std::int64_t start, std::int64_t end);
