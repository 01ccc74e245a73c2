#include "app/session/display_probe.hpp"

#include <X11/Xlib.h>
#include <wayland-client.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace camsteer {

namespace {

Display* gProbe = nullptr;  // main thread only

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool isSet(const char* value) {
    return value != nullptr && *value != '\0';
}

bool waylandReachable(std::string& why) {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!isSet(wayland)) {
        why =
            "QT_QPA_PLATFORM asks for Wayland but WAYLAND_DISPLAY is not set; start camsteer "
            "from a desktop session";
        return false;
    }
    // libwayland's own lines (no XDG_RUNTIME_DIR, ...) would repeat ours without the prefix.
    wl_log_set_handler_client([](const char*, va_list) {});
    wl_display* connection = wl_display_connect(nullptr);
    if (connection == nullptr) {
        why = std::string("cannot connect to the Wayland compositor '") + wayland +
              "'; check that WAYLAND_DISPLAY names the running session";
        return false;
    }
    wl_display_disconnect(connection);
    return true;
}

bool x11Reachable(std::string& why) {
    const char* display = std::getenv("DISPLAY");
    if (!isSet(display)) {
        why =
            "no display: DISPLAY is not set; start camsteer from a desktop session (X11, or "
            "Wayland with Xwayland)";
        return false;
    }
    // This is the process's first Xlib call: make Xlib thread-safe before any connection
    // exists, since the key output later talks to the X server from the capture thread.
    XInitThreads();
    releaseDisplayProbe();
    gProbe = XOpenDisplay(nullptr);
    if (gProbe == nullptr) {
        why = std::string("cannot open display '") + display +
              "'; check that the X server runs and that you may use it (xhost, XAUTHORITY)";
        return false;
    }
    return true;
}

}  // namespace

bool windowSystemReachable(std::string& why) {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (!isSet(platform) || startsWith(platform, "xcb")) {
        return x11Reachable(why);
    }
    if (startsWith(platform, "wayland")) {
        return waylandReachable(why);
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
