// Times the search for update disks alone, as a command starts with it: the
// median of 21 scans (listing the kernel's block devices, checking each calculator), so that
// the start-up of `vela-update list` can be set against it. Output:
// "seconds=<median of one scan> found=<count>".
#include "device/calculators.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

int main() {
    std::vector<double> seconds;
    int found = 0;
    for (int run = 0; run < 21; ++run) {
        const auto start = std::chrono::steady_clock::now();
        found = static_cast<int>(findCalculators().size());
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        seconds.push_back(took.count());
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("seconds=%.6f found=%d\n", seconds[seconds.size() / 2], found);
    return 0;
}
