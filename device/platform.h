// The narrow seam between the portable device logic and the operating system.
#pragma once

namespace platform {

// Sleeps the calling thread for ms milliseconds (Win32 Sleep on Windows).
void sleepMs(int ms);

} // namespace platform
