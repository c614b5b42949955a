// Opening a file that must be a regular file, on POSIX systems, without ever
// waiting: whatever the path names now (a FIFO put in a file's place, a
// device), the program is not held and no device is opened.
#pragma once

#ifndef _WIN32

#include <string>

struct RegularFileOpen {
    int fd = -1;             // the descriptor, blocking again; -1: not opened
    bool notRegular = false; // the path names something other than a regular file
    int error = 0;           // errno, when it could not be opened
};

// Opens the file called `name` (its bytes) with `flags` (O_CLOEXEC and
// O_NOCTTY are added), creating it with `mode` when flags ask for that. What
// the path names is looked at before the open, as opening some devices has
// effects, and what was opened is looked at again after it.
[[nodiscard]] RegularFileOpen openRegularFile(const std::string& name, int flags, int mode = 0);

#endif
