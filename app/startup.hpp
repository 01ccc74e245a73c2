#pragma once

#include "app/shell_options.hpp"

namespace camsteer {

// The whole program: start-up, window loop, shutdown. Returns the exit status.
int runShell(const ShellOptions& options, int argc, char** argv);

}  // namespace camsteer
