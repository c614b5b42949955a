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

// Human-readable cause of the most recent failure of a file transfer or a
// release (for example "Permission denied on /dev/sdb: install the udev rule
// (see README)"), or an empty text when the last one succeeded. Safe to call
// from any thread.
[[nodiscard]] std::u16string lastFailureText();

// Set by the device layer; cleared at the start of every file transfer.
void setLastFailureText(const std::u16string& text);
