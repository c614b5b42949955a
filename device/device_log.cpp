#include "device/device_log.h"

#include "base/utf16_text.h"
#include "device/calculators.h"

#include <atomic>

namespace {
std::atomic<DeviceLogSink> theSink{nullptr};
} // namespace

void setDeviceLogSink(DeviceLogSink sink) {
    theSink.store(sink, std::memory_order_release);
}

void deviceLog(const std::string& line) {
    if (DeviceLogSink sink = theSink.load(std::memory_order_acquire))
        sink(escapedForDisplay(line).c_str()); // names of devices may hold anything
}
