// Times one transfer of a firmware file (the first of a run) onto every
// calculator the kernel lists, with every fixed pause divided away, and
// counts the control-sector exchanges it made, so that a script can issue the
// same I/O with dd for comparison. Output: "seconds=<s> exchanges=<n> result=<code>".
#include "base/pacing.h"
#include "base/utf16_text.h"
#include "session/update_run.h"

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
    UpdateRun run;
    run.begin({{path, u"image", offset, 0}}, nullptr);
    const DeviceResult report = run.transfer(0).result;
    const ResultCode result = report.code;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("seconds=%.6f exchanges=%d result=%d\n", elapsed.count(), exchanges.load(), result);
    if (result != kResultOk)
        std::fprintf(stderr, "%s\n", toUtf8(report.cause).c_str());
    return result == kResultOk ? 0 : 1;
}
