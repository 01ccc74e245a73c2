#pragma once

#include "app/options.hpp"
#include "app/shell.hpp"
#include "app/shell_options.hpp"

namespace camsteer {

// The reference picture the run starts from: REFERENCE, or with --learn the saved picture when
// there is one and otherwise none (no colour model until the first selection). False, after
// saying why, when the run cannot start with what was given.
bool loadStartingReference(ShellState& shell, const CommandLine& line, const ShellOptions& options);

}  // namespace camsteer
