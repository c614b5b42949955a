// Sleeping, the one operating-system service that pacing needs; the disks,
// files and threads are in disk_io.h.
#pragma once

namespace platform {

// Sleeps the calling thread for ms milliseconds (Win32 Sleep on Windows).
void sleepMs(int ms);

} // namespace platform
