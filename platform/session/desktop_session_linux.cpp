#include <cstdlib>

#include "platform/session/desktop_session.hpp"

namespace camsteer {

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

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

}  // namespace camsteer
