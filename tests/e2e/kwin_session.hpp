#pragma once

// A private headless KWin (KDE Plasma's Wayland compositor, with Xwayland) for one test, run as
// an unprivileged user on a session bus of its own. It grants KDE's fake-input protocol to one
// program, named by absolute path in a desktop entry as a Plasma menu entry would. Stopped, with
// its clients, in the destructor.

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "wayland_session.hpp"

namespace camsteer::e2e {

class KwinSession : public WaylandSession {
  public:
    // Empty when a session can be started here, else what is missing.
    static std::string missing() {
        return WaylandSession::missing({"kwin_wayland", "dbus-daemon", "Xwayland", "xdotool"});
    }

    // Starts KWin, which runs the shell command `client` once it is up, and grants fake input
    // to the built program `trusted`, staged in the session's folder (see stage()). On failure
    // ok() is false and error() says why.
    KwinSession(const std::string& trusted, const std::string& client) {
        if (!error_.empty()) {
            return;
        }
        const std::string program = stage(trusted);
        if (program.empty()) {
            error_ = "cannot copy " + trusted + " into the session's folder";
            return;
        }
        namespace fs = std::filesystem;
        std::error_code failed;
        for (const char* folder : {"bin", ".config/menus", ".local/share/applications"}) {
            fs::create_directories(file(folder), failed);
        }
        // The packaged binary carries a file capability, which a sandbox may not grant: exec
        // fails then. A copy has none.
        fs::copy_file(findProgram("kwin_wayland"), file("bin/kwin_wayland"), failed);
        // The program's windows leave the focus with the receiver.
        std::ofstream(file(".config/kwinrulesrc"))
            << "[General]\ncount=1\nrules=1\n\n[1]\nDescription=camsteer leaves the focus\n"
            << "title=^(Camsteer|Output|Histogram)$\ntitlematch=3\n"
            << "acceptfocus=false\nacceptfocusrule=2\n";
        std::ofstream(file(".local/share/applications/camsteer-under-test.desktop"))
            << "[Desktop Entry]\nType=Application\nName=camsteer under test\nExec=" << program
            << "\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n";
        // KWin finds the entry through KDE's application database, which KWin 6 builds from the
        // desktop's applications menu only: a Plasma session has one, this bare session gets a
        // menu holding every entry. (KWin 5 found the entry without it.)
        std::ofstream(file(".config/menus/applications.menu"))
            << "<!DOCTYPE Menu>\n"
            << "<Menu><Name>Applications</Name><DefaultAppDirs/><Include><All/></Include></Menu>\n";
        std::ofstream(file("client.sh")) << noteDisplays() << "\nexec " << client << "\n";
        if (failed) {
            error_ = "cannot prepare KWin's folders: " + failed.message();
            return;
        }
        if (!handOver()) {
            return;
        }

        const std::string bus = "unix:path=" + file("bus");
        bus_ = std::make_unique<Process>(
            launch("dbus-daemon", {"--session", "--nofork", "--address=" + bus}), runtime_.path());
        if (!pollUntil([&] { return fileExists(file("bus")) || !bus_->running(); }, kStartBound) ||
            !bus_->running()) {
            error_ = "the session bus did not come up: " + bus_->err();
            return;
        }
        kwin_ = std::make_unique<Process>(
            launch(file("bin/kwin_wayland"),
                   {"--virtual", "--xwayland", "--width", "1280", "--height", "800", "--socket",
                    "camsteer-kwin", "--no-lockscreen", "--no-global-shortcuts", "--no-kactivities",
                    "sh " + file("client.sh")},
                   {{"DBUS_SESSION_BUS_ADDRESS", bus},
                    // Its menu and entry, whatever the suite's own desktop says.
                    {"XDG_CONFIG_HOME", file(".config")},
                    {"XDG_DATA_HOME", file(".local/share")},
                    {"XDG_MENU_PREFIX", std::nullopt},
                    {"DISPLAY", std::nullopt},
                    {"WAYLAND_DISPLAY", std::nullopt}}),
            runtime_.path());
        waitForDisplays(*kwin_);
    }
    ~KwinSession() {
        // KWin ends its clients and its Xwayland; then the bus goes.
        stopInOrder({&kwin_, &bus_});
    }
    KwinSession(const KwinSession&) = delete;
    KwinSession& operator=(const KwinSession&) = delete;

    // Asks KWin, as a pager would, to activate the window of X class `windowClass`; whether that
    // window has the focus now.
    bool activate(const std::string& windowClass) {
        const auto xdotool = [&](const std::vector<std::string>& args) {
            const Finished done = runToEnd(launch("xdotool", args), runtime_.path());
            return done.status && done.status->exited() && done.status->code() == 0 ? done.out : "";
        };
        const std::string window = xdotool({"search", "--class", windowClass});
        if (window.empty() || window.find('\n') != window.size() - 1) {
            return false;  // none yet, or more than one
        }
        xdotool({"windowactivate", window.substr(0, window.size() - 1)});
        return xdotool({"getactivewindow"}) == window;
    }

  private:
    std::unique_ptr<Process> bus_;
    std::unique_ptr<Process> kwin_;
};

}  // namespace camsteer::e2e
