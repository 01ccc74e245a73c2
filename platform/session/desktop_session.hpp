#pragma once

#include <string>

namespace camsteer {

// The kind of desktop session the environment hints at.
enum class SessionKind {
    kX11,
    kWayland,
    kNone,  // no display at all
};

// What the desktop session offers this process, read from the environment in one place at
// start-up (readDesktopSession) and handed to what needs it: key output, the window toolkit's
// platform, the display probe, the instance lock, the window watch. An empty field is one the
// environment does not set. Where the system has no such variables (Windows) the value is empty:
// the one desktop there is; the data and state folders are then %LOCALAPPDATA%.
struct DesktopSession {
    std::string x11Display;      // DISPLAY: the X server (Xwayland's under Wayland)
    std::string waylandDisplay;  // WAYLAND_DISPLAY: the compositor's socket
    std::string sessionType;     // XDG_SESSION_TYPE: "x11", "wayland", "tty", ...
    std::string runtimeDir;      // XDG_RUNTIME_DIR
    // QT_QPA_PLATFORM as the user set it: the window toolkit's platform asked for.
    std::string toolkitPlatform;
    // The user's data and state folders (XDG_DATA_HOME, XDG_STATE_HOME, else under HOME); ""
    // when neither names a folder (see userFolder).
    std::string dataHome;
    std::string stateHome;

    bool hasX11() const { return !x11Display.empty(); }
    bool hasWayland() const { return !waylandDisplay.empty(); }
    // XDG_SESSION_TYPE "x11" or "wayland" decides; otherwise a Wayland display means Wayland,
    // else an X display means X11.
    SessionKind kind() const;
};

// This process's desktop session, from its environment (an unset and an empty variable alike
// give "").
DesktopSession readDesktopSession();

// A user folder as the base directory rules give it: `xdg` (the XDG_..._HOME value) when it is
// an absolute path (a relative one is invalid and ignored), else `underHome` in `home` when that
// is absolute; otherwise "": an empty or relative HOME names no folder, and what was kept there
// would land under / or wherever the program happened to start. nullptr: not set.
std::string userFolder(const char* xdg, const char* home, const char* underHome);

}  // namespace camsteer
