#include "app/session/display_probe.hpp"
#include "app/session/toolkit_platform.hpp"

namespace camsteer {

// On Windows the window toolkit is highgui's own Win32 backend, and the desktop is always
// there: there is no platform to choose and no display to probe.

bool prepareToolkitPlatform(const DesktopSession& /*session*/, std::string& /*why*/) {
    return true;
}

void releaseDisplayProbe() {}

}  // namespace camsteer
