#include <cstdlib>

#include "platform/process/environment.hpp"

namespace camsteer {

void setEnvironmentDefault(const char* name, const char* value) {
    if (std::getenv(name) == nullptr) {
        ::_putenv_s(name, value);
    }
}

}  // namespace camsteer
