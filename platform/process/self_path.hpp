#pragma once

#include <string>

namespace camsteer {

// The file this program runs from, as an absolute path; empty when it cannot be told.
std::string selfPath();

}  // namespace camsteer
