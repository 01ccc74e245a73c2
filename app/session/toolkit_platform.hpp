#pragma once

#include <functional>
#include <string>

#include "platform/session/desktop_session.hpp"

namespace camsteer {

// Picks the window toolkit's platform plugin before the toolkit starts, so that it never aborts
// for a plugin that is missing or a display that is not there: with DISPLAY set, X11 (xcb,
// which under Wayland is Xwayland and keeps the window placement); otherwise native Wayland
// where its plugin is installed. A QT_QPA_PLATFORM the user set wins when its plugin is
// installed and its display is there; a list ("wayland;xcb") gives the first entry that fits.
//
// session.toolkitPlatform is what the user asked for; installed: whether the plugin for a
// platform name is installed. Returns the value for QT_QPA_PLATFORM, or "" with a one-line
// reason in `why`.
std::string chooseToolkitPlatform(const DesktopSession& session,
                                  const std::function<bool(const std::string&)>& installed,
                                  std::string& why);

// Whether the toolkit loaded in this process has a platform plugin for `platform` ("xcb",
// "wayland", ...), looked up where it looks: QT_QPA_PLATFORM_PLUGIN_PATH, QT_PLUGIN_PATH and
// its own plugin folder. True for any name when no such toolkit is loaded.
bool toolkitPluginInstalled(const std::string& platform);

// Chooses the platform for this process, sets QT_QPA_PLATFORM to it and checks that its window
// system answers. False with a one-line reason when no platform can start. Call before any
// window exists.
bool prepareToolkitPlatform(const DesktopSession& session, std::string& why);

}  // namespace camsteer
