#include "app/display_check.hpp"

#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>

namespace camsteer {

bool windowSystemReachable(std::string& why) {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr &&
        (std::strcmp(platform, "offscreen") == 0 || std::strcmp(platform, "minimal") == 0)) {
        return true;
    }
    if (platform != nullptr && std::strncmp(platform, "wayland", 7) == 0) {
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if (wayland != nullptr && *wayland != '\0') {
            return true;
        }
        why =
            "QT_QPA_PLATFORM asks for Wayland but WAYLAND_DISPLAY is not set; start camsteer "
            "from a desktop session";
        return false;
    }
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        why =
            "no display: DISPLAY is not set; start camsteer from a desktop session (X11, or "
            "Wayland with Xwayland)";
        return false;
    }
    // This is the process's first Xlib call: make Xlib thread-safe before any connection
    // exists, since the key output later talks to the X server from the capture thread.
    XInitThreads();
    Display* connection = XOpenDisplay(nullptr);
    if (connection == nullptr) {
        why = std::string("cannot open display '") + display +
              "'; check that the X server runs and that you may use it (xhost, XAUTHORITY)";
        return false;
    }
    XCloseDisplay(connection);
    return true;
}

}  // namespace camsteer
