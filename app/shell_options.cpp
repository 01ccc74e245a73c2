#include "app/shell_options.hpp"

#include <cstdio>

namespace camsteer {

void diagnose(const ShellOptions& options, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", options.programName, what.c_str());
}

}  // namespace camsteer
