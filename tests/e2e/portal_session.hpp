#pragma once

// A Wayland session whose compositor offers neither the virtual-keyboard protocol nor KDE's fake
// input (a headless weston), with a session bus of its own on which the suite's stand-in for the
// desktop's remote-desktop portal (portal_standin.py) runs. The stand-in logs the conversation
// and puts the keys into an X display, as the desktop puts them into its seat. Everything is
// stopped in the destructor.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "files.hpp"
#include "process.hpp"

namespace camsteer::e2e {

class PortalSession {
  public:
    struct Options {
        int version = 2;               // the portal interface's version
        const char* answer = "grant";  // grant, refuse, stale-token (refuse any kept token)
        double delay = 0;              // seconds the user takes over the dialog
    };

    static std::string missing() {
        if (access("/dev/uinput", W_OK) == 0) {
            return "/dev/uinput is writable here, so uinput would send the keys, not the portal";
        }
        for (const char* tool : {"weston", "dbus-daemon", "/usr/bin/python3"}) {
            if (findProgram(tool).empty()) {
                return std::string(tool) +
                       " is not installed (scripts/install-deps.sh installs it)";
            }
        }
        const Finished modules = runToEnd(
            Launch{"/usr/bin/python3", {"-c", "import dbus, gi"}, {}, "", std::nullopt}, "/tmp");
        return modules.status && modules.status->exited() && modules.status->code() == 0
                   ? ""
                   : "python3-dbus or python3-gi is not installed (scripts/install-deps.sh "
                     "installs them)";
    }

    // Starts weston, the bus and the stand-in in `runtime` (a folder only this user may enter),
    // the stand-in putting keys into `xDisplay`. On failure error() says why.
    PortalSession(const std::string& runtime, const std::string& xDisplay, const Options& options)
        : runtime_(runtime) {
        const EnvChanges quiet = {{"XDG_RUNTIME_DIR", runtime_},
                                  {"DISPLAY", std::nullopt},
                                  {"WAYLAND_DISPLAY", std::nullopt}};
        weston_ =
            std::make_unique<Process>(Launch{"weston",
                                             {"--backend=headless-backend.so",
                                              "--socket=" + std::string(kSocket), "--idle-time=0"},
                                             quiet,
                                             "",
                                             std::nullopt},
                                      runtime_);
        bus_ = std::make_unique<Process>(
            Launch{"dbus-daemon",
                   {"--session", "--nofork", "--address=unix:path=" + runtime_ + "/bus"},
                   quiet,
                   "",
                   std::nullopt},
            runtime_);
        if (!pollUntil([&] { return up(kSocket) && up("bus"); }, kStartBound)) {
            error_ = "weston or the session bus did not come up: " + weston_->err() + bus_->err();
            return;
        }
        standin_ = std::make_unique<Process>(
            Launch{"/usr/bin/python3",
                   {sourcePath("tests/e2e/portal_standin.py"), "--log", logPath(), "--version",
                    std::to_string(options.version), "--answer", options.answer, "--delay",
                    std::to_string(options.delay), "--display", xDisplay},
                   env(),
                   "",
                   std::nullopt},
            runtime_);
        if (!pollUntil([&] { return !log().empty() || !standin_->running(); }, kStartBound) ||
            log().empty()) {
            error_ = "the portal stand-in did not come up: " + standin_->err();
        }
    }
    ~PortalSession() { stopInOrder({&standin_, &bus_, &weston_}); }
    PortalSession(const PortalSession&) = delete;
    PortalSession& operator=(const PortalSession&) = delete;

    const std::string& error() const { return error_; }

    // A program's session variables: the Wayland display, the bus, the runtime folder, and a
    // state folder of the session's own (where the kept consent goes).
    EnvChanges env() const {
        return {{"WAYLAND_DISPLAY", kSocket},
                {"XDG_SESSION_TYPE", "wayland"},
                {"XDG_RUNTIME_DIR", runtime_},
                {"XDG_STATE_HOME", stateHome()},
                {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtime_ + "/bus"}};
    }
    std::string stateHome() const { return runtime_ + "/state"; }
    std::string tokenFile() const { return stateHome() + "/camsteer/portal-restore-token"; }

    // The stand-in's log, a line per event (see portal_standin.py).
    std::vector<std::string> log() const { return lines(readFile(logPath())); }

  private:
    static constexpr const char* kSocket = "camsteer-weston";
    std::string logPath() const { return runtime_ + "/portal.log"; }
    bool up(const std::string& name) const {
        struct stat info {};
        return stat((runtime_ + "/" + name).c_str(), &info) == 0;
    }

    std::string runtime_;
    std::string error_;
    std::unique_ptr<Process> weston_;
    std::unique_ptr<Process> bus_;
    std::unique_ptr<Process> standin_;
};

}  // namespace camsteer::e2e
