#include <cstdlib>

#include "platform/process/environment.hpp"

namespace camsteer {

void setEnvironmentDefault(const char* name, const char* value) {
    ::setenv(name, value, 0);
}

}  // namespace camsteer
