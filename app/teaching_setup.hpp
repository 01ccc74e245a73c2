#pragma once

#include "app/options.hpp"
#include "app/shell.hpp"
#include "app/shell_options.hpp"

namespace camsteer {

// Lets the user teach by dragging over "Camsteer" (main thread, window present). With --learn,
// each taught picture is also saved to the learn path and named on standard error.
void installTeaching(ShellState& shell, const CommandLine& line, const ShellOptions& options);

// Window loop, every turn: when a selection's clean frame has come, its pixels become the
// reference, the hue model is rebuilt and shown, and (with --learn) the picture is saved.
void adoptTaughtReference(ShellState& shell);

}  // namespace camsteer
