#include "device/disk_io.h"

#include "device/disk_testing.h"
#include "device/virtual/virtual_calculator.h"

#include <atomic>
#include <mutex>

namespace diskio {

namespace {
std::atomic<DiskSource*> overrideSource{nullptr};
std::once_flag environmentChecked;
std::atomic<testing::ThreadRunner> threadRunner{nullptr};
} // namespace

DiskSource& activeDiskSource() {
    // The environment is read once, on first use, so that a process started
    // with UPDATER_VIRTUAL_CALCULATOR sees the same calculator throughout.
    std::call_once(environmentChecked, [] { (void)virtual_calculator::installFromEnvironment(); });
    if (DiskSource* source = overrideSource.load(std::memory_order_acquire))
        return *source;
    return nativeDiskSource();
}

void setDiskSourceOverride(DiskSource* source) {
    overrideSource.store(source, std::memory_order_release);
}

std::vector<ThreadOutcome> runTransferThreads(const std::vector<std::function<int()>>& jobs) {
    if (testing::ThreadRunner runner = threadRunner.load(std::memory_order_acquire))
        return runner(jobs);
    return runThreads(jobs);
}

void testing::setThreadRunner(ThreadRunner runner) {
    threadRunner.store(runner, std::memory_order_release);
}

} // namespace diskio
