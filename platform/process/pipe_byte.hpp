#pragma once

#include <cstdint>

namespace camsteer {

// The write end of a pipe that mirrors state one byte at a time to another process, which may
// stop reading or be gone (the key watchdog's pipe).

// Makes writes to `fd` return at once when the pipe is full instead of waiting for the reader.
void makeWritesNonBlocking(int fd);

// Writes one byte to `fd`; a full pipe or a reader that is gone is ignored, and never ends the
// process (no SIGPIPE).
void writeByteQuietly(int fd, std::uint8_t byte);

}  // namespace camsteer
