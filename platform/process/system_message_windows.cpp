#include <windows.h>

#include "platform/process/system_message.hpp"

namespace camsteer {

std::string systemMessage(unsigned long error) {
    char text[256];
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               error, 0, text, sizeof(text), nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) {
        --n;
    }
    return n > 0 ? std::string(text, n) : "Windows error " + std::to_string(error);
}

}  // namespace camsteer
