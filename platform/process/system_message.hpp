#pragma once

#include <string>

namespace camsteer {

// The system's own words for an error code (errno on Linux, GetLastError() on Windows), without
// a closing full stop or line break, for the end of a one-line message.
std::string systemMessage(unsigned long error);

}  // namespace camsteer
