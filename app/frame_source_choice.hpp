#pragma once

#include <memory>

#include "app/options.hpp"
#include "app/shell.hpp"
#include "platform/camera/frame_sources.hpp"

namespace camsteer {

// Where frames come from: the clip of camsteer_replay, or the camera the command line names.
std::unique_ptr<FrameSource> frameSourceFor(const CommandLine& line, const ShellState& shell);

}  // namespace camsteer
