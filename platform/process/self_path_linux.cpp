#include "platform/process/self_path.hpp"

#include <unistd.h>

#include <climits>

namespace camsteer {

std::string selfPath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) {
        return std::string();
    }
    return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace camsteer
