// Shared fixtures of the device tests: firmware files, a recorder for the
// transfer callbacks, and the virtual calculator's trace as text.
#pragma once

#include "device/disk_identity.h"
#include "device/virtual/virtual_calculator.h"

#include <cstdint>
#include <string>
#include <vector>

namespace support {

// A folder of its own under the system's temporary folder.
std::string tempDir(const std::string& name);

// Bytes whose value depends on their position, so a misplaced chunk shows.
std::vector<std::uint8_t> pattern(std::size_t size, unsigned seed);
bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFile(const std::string& path, std::uint64_t offset,
                                   std::size_t length);
std::u16string wide(const std::string& text);

// What the transfer callbacks received; safe from several threads.
void resetCallbacks();
void onProgress(int percent);
void onMessage(const char16_t* text);
std::vector<int> progressSeen();
std::vector<std::string> messagesSeen();
// Called once from the progress callback when set (with the percentage).
void setProgressHook(void (*hook)(int));

std::vector<std::string> traceText(int unit);

// Who unit n of the virtual calculator is (it has a serial number).
DiskIdentity unitIdentity(int unit);

// A fresh virtual calculator with these options.
void freshCalculator(const virtual_calculator::Options& options);
void freshCalculator(int units = 1);

} // namespace support
