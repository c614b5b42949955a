// The updater's plain transfer calls, as its worker makes them: one firmware
// file by its path and disk offset onto "the update disks", with progress and
// messages to two callbacks, and the finish command to them at the end. They
// name no run: they drive the run that goes through UpdateDiskTable (the last
// one begun over every calculator present, see update_run.h), and what came
// of each step reaches that run's observer whole.
#pragma once

#include "device/calculators.h"

#include <cstdint>

using ProgressCallback = void (*)(int percent);
// The text is valid only during the call; the receiver copies it.
using MessageCallback = void (*)(const char16_t* text);

// The file at filePath onto the run's calculators that lack it; the first of
// their results. 105 when no run is begun, or the file is none of its images.
[[nodiscard]] ResultCode runFileTransfer(const char16_t* vendor, const char16_t* product,
                                         const char16_t* filePath, std::uint64_t diskOffset,
                                         ProgressCallback progress, MessageCallback message);
// The finish command to the run's calculators, and the run's end; 104 when
// none was found.
ResultCode releaseUpdateDisks(const char16_t* vendor, const char16_t* product);
