#pragma once

#include "app/options.hpp"
#include "app/setup_file.hpp"
#include "app/shell.hpp"
#include "app/shell_options.hpp"

namespace camsteer {

// The settings a run starts from, and what the set-up file held.
struct StartingSettings {
    // With --learn: what the set-up file kept (a damaged line named on standard error and
    // skipped) over the tracker's own settings; without --learn, or without a file, those.
    KeptSettings kept;
    // `kept` with the command line's --keys and --steady over it: what the run uses.
    KeptSettings run;
};

// Works out the starting settings (before the keys are opened).
StartingSettings startingSettings(const Tracker& tracker, const CommandLine& line,
                                  const ShellOptions& options);

// Once the settings panel exists (main thread): moves the trackbars to the run's positions and
// gives the tracker its steady value. With --learn, sets shell.keepSettings to keep the set-up
// file in step with the run (SetUpKeeper): it is written whenever the run's settings come to
// differ from what the file holds. Without --learn nothing is ever written.
void useStartingSettings(ShellState& shell, const CommandLine& line, const ShellOptions& options,
                         const StartingSettings& settings);

}  // namespace camsteer
