#include "app/session/toolkit_platform.hpp"

#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "app/session/display_probe.hpp"

namespace camsteer {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator)) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

// The plugin files that provide a platform name.
std::vector<std::string> pluginFiles(const std::string& platform) {
    if (platform == "wayland") {
        return {"libqwayland-egl.so", "libqwayland-generic.so"};
    }
    return {"libq" + platform + ".so"};
}

// The folder of the loaded toolkit core library (libQt5Core or libQt6Core) and its major
// version's plugin folder name, found among the libraries of this process.
struct LoadedToolkit {
    std::string libraryDir;
    std::string pluginSubdir;  // "qt5/plugins"
};

int findToolkit(dl_phdr_info* info, size_t /*size*/, void* data) {
    const char* path = info->dlpi_name;
    for (const char* major : {"5", "6"}) {
        const std::string core = std::string("libQt") + major + "Core.so";
        if (path != nullptr && std::strstr(path, core.c_str()) != nullptr) {
            char resolved[PATH_MAX];
            const std::string real = realpath(path, resolved) != nullptr ? resolved : path;
            auto* toolkit = static_cast<LoadedToolkit*>(data);
            toolkit->libraryDir = real.substr(0, real.find_last_of('/'));
            toolkit->pluginSubdir = std::string("qt") + major + "/plugins";
            return 1;
        }
    }
    return 0;
}

}  // namespace

std::string chooseToolkitPlatform(const DesktopSession& session,
                                  const std::function<bool(const std::string&)>& installed,
                                  std::string& why) {
    const auto fits = [&](const std::string& name) {
        if (name == "xcb") {
            return session.hasX11() && installed(name);
        }
        if (name.rfind("wayland", 0) == 0) {
            return session.hasWayland() && installed(name);
        }
        return installed(name);
    };
    if (!session.toolkitPlatform.empty()) {
        for (const std::string& entry : split(session.toolkitPlatform, ';')) {
            if (fits(entry.substr(0, entry.find(':')))) {
                return entry;
            }
        }
    }
    if (fits("xcb")) {
        return "xcb";
    }
    if (fits("wayland")) {
        return "wayland";
    }
    if (session.hasX11()) {
        why =
            "the window toolkit's X11 platform plugin is missing (libqxcb.so); reinstall the "
            "libqt5gui5 package";
    } else if (session.hasWayland()) {
        why =
            "no display the window toolkit can use: DISPLAY is not set (no Xwayland) and its "
            "Wayland plugin is not installed; enable Xwayland in the compositor, or install "
            "qtwayland5";
    } else {
        why =
            "no display: DISPLAY is not set; start camsteer from a desktop session (X11, or "
            "Wayland with Xwayland)";
    }
    return "";
}

bool toolkitPluginInstalled(const std::string& platform) {
    LoadedToolkit toolkit;
    if (dl_iterate_phdr(findToolkit, &toolkit) == 0) {
        return true;  // not this toolkit: its variable means nothing to the one in use
    }
    std::vector<std::string> dirs;
    if (const char* platformPath = std::getenv("QT_QPA_PLATFORM_PLUGIN_PATH")) {
        dirs.push_back(platformPath);
    }
    if (const char* pluginPath = std::getenv("QT_PLUGIN_PATH")) {
        for (const std::string& dir : split(pluginPath, ':')) {
            dirs.push_back(dir + "/platforms");
        }
    }
    dirs.push_back(toolkit.libraryDir + "/" + toolkit.pluginSubdir + "/platforms");
    for (const std::string& dir : dirs) {
        for (const std::string& file : pluginFiles(platform)) {
            if (access((dir + "/" + file).c_str(), R_OK) == 0) {
                return true;
            }
        }
    }
    return false;
}

bool prepareToolkitPlatform(const DesktopSession& session, std::string& why) {
    const std::string platform = chooseToolkitPlatform(session, toolkitPluginInstalled, why);
    if (platform.empty()) {
        return false;
    }
    // Set even when it matches the toolkit's default: a toolkit left to guess warns on
    // standard error in a Wayland session that it is ignoring XDG_SESSION_TYPE.
    setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
    return windowSystemReachable(platform, session, why);
}

}  // namespace camsteer
