// Times one runFileTransfer of a firmware file onto the update disks that the
// kernel lists as calculators, with every fixed pause divided away, and counts the
// control-sector exchanges it made, so that a script can issue the same I/O
// with dd for comparison. Output: "seconds=<s> exchanges=<n> result=<code>".
#include "base/utf16_text.h"
#include "device/device_log.h"
#include "device/disk_testing.h"
#include "device/pacing.h"
#include "device/update_disk.h"
#include "device/update_run.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
std::atomic<int> exchanges{0};

void countExchanges(const char* line) {
    // One log line per progress attempt, each a 512-byte write and read.
    if (std::strncmp(line, "control: progress ", 18) == 0)
        exchanges.fetch_add(1);
}
void ignoreProgress(int) {}
void ignoreMessage(const char16_t*) {}
} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_transfer <firmware file> <disk offset>\n");
        return 2;
    }
    // The pauses are product behaviour, not I/O: leave them out of the time.
    pacing::testing::setDivisor(1 << 30);
    setDeviceLogSink(countExchanges);
    const std::u16string path = toUtf16(argv[1]);
    const auto offset = std::strtoull(argv[2], nullptr, 0);
    const auto start = std::chrono::steady_clock::now();
    const TransferReport report = transferInUpdateRun(updateVendorId, updateProductId, path.c_str(),
                                                      offset, ignoreProgress, ignoreMessage);
    const ResultCode result = report.result;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("seconds=%.6f exchanges=%d result=%d\n", elapsed.count(), exchanges.load(), result);
    if (result != kResultOk)
        std::fprintf(stderr, "%s\n", toUtf8(report.cause).c_str());
    return result == kResultOk ? 0 : 1;
}
