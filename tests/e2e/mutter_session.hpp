#pragma once

// The desktop chain of GNOME on Wayland, headless, for one test: mutter (which offers neither the
// virtual-keyboard protocol nor fake input), the real xdg-desktop-portal frontend, and the
// suite's implementation portal (portal_impl_mutter.py), which grants at once and forwards to
// mutter's own remote-desktop interface, on a session bus of their own. Stopped in the
// destructor.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "files.hpp"
#include "process.hpp"

namespace camsteer::e2e {

class MutterSession {
  public:
    static constexpr const char* kFrontend = "/usr/libexec/xdg-desktop-portal";

    static std::string missing() {
        if (access("/dev/uinput", W_OK) == 0) {
            return "/dev/uinput is writable here, so uinput would send the keys, not the portal";
        }
        for (const char* tool : {"mutter", kFrontend, "dbus-daemon", "/usr/bin/python3"}) {
            if (findProgram(tool).empty()) {
                return std::string(tool) +
                       " is not installed (scripts/install-deps.sh installs it)";
            }
        }
        return "";
    }

    // Starts the chain in `runtime` (a folder only this user may enter); error() says what did
    // not come up.
    explicit MutterSession(const std::string& runtime) : runtime_(runtime) {
        std::ofstream(runtime_ + "/camsteertest.portal")
            << "[portal]\nDBusName=org.freedesktop.impl.portal.desktop.camsteertest\n"
            << "Interfaces=org.freedesktop.impl.portal.RemoteDesktop;\nUseIn=camsteertest\n";
        const EnvChanges own = env();
        bus_ = start("dbus-daemon", {"--session", "--nofork", "--address=" + address()}, own);
        if (!pollUntil([&] { return up("bus") || !bus_->running(); }, kStartBound)) {
            error_ = "the session bus did not come up: " + bus_->err();
            return;
        }
        mutter_ = start("mutter",
                        {"--headless", "--virtual-monitor", "1024x768", "--wayland-display",
                         kSocket, "--no-x11"},
                        own);
        if (!pollUntil([&] { return up(kSocket) || !mutter_->running(); }, kStartBound) ||
            !mutter_->running()) {
            error_ = "mutter did not come up: " + mutter_->err();
            return;
        }
        impl_ = start("/usr/bin/python3",
                      {sourcePath("tests/e2e/portal_impl_mutter.py"), runtime_ + "/impl.log"}, own);
        // The frontend reads what the implementation offers when it starts: it comes second.
        if (!pollUntil([&] { return !log().empty() || !impl_->running(); }, kStartBound) ||
            log().empty()) {
            error_ = "the implementation portal did not come up: " + impl_->err();
            return;
        }
        // The frontend says, verbosely, when it has the portal's name.
        frontend_ = start(kFrontend, {"--verbose"}, own);
        const bool ready = pollUntil(
            [&] {
                return frontend_->err().find("org.freedesktop.portal.Desktop acquired") !=
                           std::string::npos ||
                       !frontend_->running();
            },
            kStartBound);
        if (!ready || !frontend_->running()) {
            error_ = "the portal frontend did not come up: " + frontend_->err();
        }
    }
    ~MutterSession() { stopInOrder({&frontend_, &impl_, &mutter_, &bus_}); }
    MutterSession(const MutterSession&) = delete;
    MutterSession& operator=(const MutterSession&) = delete;

    const std::string& error() const { return error_; }

    // The session's variables, for the chain itself and for its clients.
    EnvChanges env() const {
        return {{"WAYLAND_DISPLAY", kSocket},
                {"XDG_SESSION_TYPE", "wayland"},
                {"XDG_CURRENT_DESKTOP", "camsteertest"},
                {"XDG_DESKTOP_PORTAL_DIR", runtime_},
                {"XDG_RUNTIME_DIR", runtime_},
                {"XDG_STATE_HOME", runtime_ + "/state"},
                {"HOME", runtime_},
                {"DISPLAY", std::nullopt},
                {"DBUS_SESSION_BUS_ADDRESS", address()}};
    }
    // The implementation portal's log: Ready, CreateSession, SelectDevices types=N, Start,
    // Key CODE STATE, Close.
    std::vector<std::string> log() const { return lines(readFile(runtime_ + "/impl.log")); }

  private:
    static constexpr const char* kSocket = "camsteer-mutter";
    std::string address() const { return "unix:path=" + runtime_ + "/bus"; }
    bool up(const std::string& name) const {
        struct stat info {};
        return stat((runtime_ + "/" + name).c_str(), &info) == 0;
    }
    std::unique_ptr<Process> start(const std::string& program, const std::vector<std::string>& args,
                                   const EnvChanges& env) {
        return std::make_unique<Process>(Launch{program, args, env, "", std::nullopt}, runtime_);
    }

    std::string runtime_;
    std::string error_;
    std::unique_ptr<Process> bus_;
    std::unique_ptr<Process> mutter_;
    std::unique_ptr<Process> impl_;
    std::unique_ptr<Process> frontend_;
};

}  // namespace camsteer::e2e
