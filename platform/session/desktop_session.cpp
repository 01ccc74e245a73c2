#include "platform/session/desktop_session.hpp"

#include <cstdlib>

namespace camsteer {

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

SessionKind DesktopSession::kind() const {
    if (sessionType == "x11") {
        return SessionKind::kX11;
    }
    if (sessionType == "wayland") {
        return SessionKind::kWayland;
    }
    if (hasWayland()) {
        return SessionKind::kWayland;
    }
    if (hasX11()) {
        return SessionKind::kX11;
    }
    return SessionKind::kNone;
}

DesktopSession readDesktopSession() {
    DesktopSession session;
    session.x11Display = variable("DISPLAY");
    session.waylandDisplay = variable("WAYLAND_DISPLAY");
    session.sessionType = variable("XDG_SESSION_TYPE");
    session.runtimeDir = variable("XDG_RUNTIME_DIR");
    session.toolkitPlatform = variable("QT_QPA_PLATFORM");
    const char* home = std::getenv("HOME");
    session.dataHome = userFolder(std::getenv("XDG_DATA_HOME"), home, ".local/share");
    session.stateHome = userFolder(std::getenv("XDG_STATE_HOME"), home, ".local/state");
    return session;
}

std::string userFolder(const char* xdg, const char* home, const char* underHome) {
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/" + underHome;
    }
    return "";
}

}  // namespace camsteer
