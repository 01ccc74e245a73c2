#include "platform/session/desktop_session.hpp"

namespace camsteer {

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
