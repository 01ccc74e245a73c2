#pragma once

#include "app/options.hpp"
#include "app/shell_options.hpp"

namespace camsteer {

// Answers what the command line asks for instead of a run: --help, --version, --list-cameras,
// or the usage after a bad option. Returns the exit status, or -1 when the run goes on.
int answerWithoutRunning(const CommandLine& line, const ShellOptions& options);

}  // namespace camsteer
