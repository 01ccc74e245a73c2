#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process/pipe_byte.hpp"
#include "platform/process/sigpipe_block.hpp"

namespace camsteer {

void makeWritesNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) {
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
}

void writeByteQuietly(int fd, std::uint8_t byte) {
    SigpipeBlock noSigpipe;  // the reader may be gone; that is its watcher's business
    ssize_t written;
    do {
        written = ::write(fd, &byte, 1);
    } while (written < 0 && errno == EINTR);
}

}  // namespace camsteer
