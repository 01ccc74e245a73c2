#include <io.h>
#include <windows.h>

#include "platform/process/pipe_byte.hpp"

namespace camsteer {

void makeWritesNonBlocking(int fd) {
    const HANDLE pipe = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    if (pipe != INVALID_HANDLE_VALUE) {
        SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    }
}

void writeByteQuietly(int fd, std::uint8_t byte) {
    const HANDLE pipe = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD written = 0;
    if (pipe != INVALID_HANDLE_VALUE) {
        WriteFile(pipe, &byte, 1, &written, nullptr);
    }
}

}  // namespace camsteer
