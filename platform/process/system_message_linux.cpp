#include <cstring>

#include "platform/process/system_message.hpp"

namespace camsteer {

std::string systemMessage(unsigned long error) {
    return std::strerror(static_cast<int>(error));
}

}  // namespace camsteer
