// Placeholder until discovery and transfer land: no disk is ever present.
#include "platform.h"
#include "update_disk.h"

#include <chrono>
#include <thread>

const char16_t updateVendorId[] = u"Orvane";
const char16_t updateProductId[] = u"Vela update";

bool isUpdateDiskPresent(const char16_t*, const char16_t*) {
    return false;
}

ResultCode runFileTransfer(const char16_t*, const char16_t*, const char16_t*, std::uint64_t,
                           ProgressCallback, MessageCallback) {
    return kResultNoDisk;
}

ResultCode releaseUpdateDisks(const char16_t*, const char16_t*) {
    return kResultNoDisk;
}

namespace platform {
void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
} // namespace platform
