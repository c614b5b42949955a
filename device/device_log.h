// Diagnostics of the device layer. The layer itself keeps no log: it hands
// each line to a sink the application may set, and stays silent otherwise.
#pragma once

#include <string>

// Receives one line of UTF-8 text without a trailing newline. May be called
// from the worker thread, the GUI thread and every transfer thread at once.
using DeviceLogSink = void (*)(const char* line);

// Sets the sink; nullptr silences the layer again.
void setDeviceLogSink(DeviceLogSink sink);

// Hands line to the sink, if any.
void deviceLog(const std::string& line);
