#pragma once

#include <string>

namespace camsteer {

// True when the window toolkit will find a window system to draw on; otherwise false with a
// one-line reason. Checked before any window is made, so the toolkit never aborts the process.
bool windowSystemReachable(std::string& why);

}  // namespace camsteer
