#include "device/device_log.h"

#include <atomic>
#include <mutex>

namespace {
std::atomic<DeviceLogSink> theSink{nullptr};

// Written by the worker thread at the end of a transfer and by the GUI thread
// during a release; read by the GUI thread.
std::mutex failureLock;
std::u16string failureText;
} // namespace

void setDeviceLogSink(DeviceLogSink sink) {
    theSink.store(sink, std::memory_order_release);
}

void deviceLog(const std::string& line) {
    if (DeviceLogSink sink = theSink.load(std::memory_order_acquire))
        sink(line.c_str());
}

std::u16string lastFailureText() {
    std::lock_guard<std::mutex> hold(failureLock);
    return failureText;
}

void setLastFailureText(const std::u16string& text) {
    std::lock_guard<std::mutex> hold(failureLock);
    failureText = text;
}
