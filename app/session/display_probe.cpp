#include "app/session/display_probe.hpp"

#include <X11/Xlib.h>
#include <wayland-client.h>

#include <cstdarg>

namespace camsteer {

namespace {

Display* gProbe = nullptr;  // main thread only

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool waylandReachable(const std::string& wayland, std::string& why) {
    if (wayland.empty()) {
        why =
            "QT_QPA_PLATFORM asks for Wayland but WAYLAND_DISPLAY is not set; start camsteer "
            "from a desktop session";
        return false;
    }
    // libwayland's own lines (no XDG_RUNTIME_DIR, ...) would repeat ours without the prefix.
    wl_log_set_handler_client([](const char*, va_list) {});
    wl_display* connection = wl_display_connect(wayland.c_str());
    if (connection == nullptr) {
        why = std::string("cannot connect to the Wayland compositor '") + wayland +
              "'; check that WAYLAND_DISPLAY names the running session";
        return false;
    }
    wl_display_disconnect(connection);
    return true;
}

bool x11Reachable(const std::string& display, std::string& why) {
    if (display.empty()) {
        why =
            "no display: DISPLAY is not set; start camsteer from a desktop session (X11, or "
            "Wayland with Xwayland)";
        return false;
    }
    // This is the process's first Xlib call: make Xlib thread-safe before any connection
    // exists, since the key output later talks to the X server from the capture thread.
    XInitThreads();
    releaseDisplayProbe();
    gProbe = XOpenDisplay(display.c_str());
    if (gProbe == nullptr) {
        why = std::string("cannot open display '") + display +
              "'; check that the X server runs and that you may use it (xhost, XAUTHORITY)";
        return false;
    }
    return true;
}

}  // namespace

bool windowSystemReachable(const std::string& platform, const DesktopSession& session,
                           std::string& why) {
    if (platform.empty() || startsWith(platform, "xcb")) {
        return x11Reachable(session.x11Display, why);
    }
    if (startsWith(platform, "wayland")) {
        return waylandReachable(session.waylandDisplay, why);
    }
    return true;  // offscreen, minimal and the like need no window system
}

void releaseDisplayProbe() {
    if (gProbe != nullptr) {
        XCloseDisplay(gProbe);
        gProbe = nullptr;
    }
}

}  // namespace camsteer
