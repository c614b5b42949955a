#include "base/regular_file.h"

#ifndef _WIN32

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RegularFileOpen openRegularFile(const std::string& name, int flags, int mode) {
    RegularFileOpen result;
    struct stat seen {};
    if (::stat(name.c_str(), &seen) == 0 && !S_ISREG(seen.st_mode)) {
        result.notRegular = true;
        return result;
    }
    // O_NONBLOCK: the open of a FIFO would wait for the other end for ever
    // (and one opened for writing without a reader refuses at once, ENXIO).
    const int fd = ::open(name.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                          static_cast<mode_t>(mode));
    if (fd < 0) {
        result.notRegular = errno == ENXIO;
        result.error = result.notRegular ? 0 : errno;
        return result;
    }
    // What was opened, not what the path named a moment before.
    struct stat opened {};
    const bool known = ::fstat(fd, &opened) == 0;
    if (!known || !S_ISREG(opened.st_mode)) {
        result.error = known ? 0 : errno;
        result.notRegular = known;
        ::close(fd);
        return result;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        result.error = errno;
        ::close(fd);
        return result;
    }
    result.fd = fd;
    return result;
}

#endif
