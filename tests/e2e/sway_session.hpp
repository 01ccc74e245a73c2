#pragma once

// A private headless sway (a wlroots Wayland compositor, with Xwayland) for one test, run as an
// unprivileged user (sway refuses root). Stopped, with every client it started, in the
// destructor.

#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "wayland_session.hpp"

namespace camsteer::e2e {

class SwaySession : public WaylandSession {
  public:
    // Empty when a session can be started here, else what is missing.
    static std::string missing() {
        return WaylandSession::missing({"sway", "swaymsg", "Xwayland"});
    }

    // Starts sway with a minimal configuration (Xwayland on; the program's own windows never
    // take the focus from the receiver) and waits until it is up. On failure ok() is false and
    // error() says why.
    SwaySession() {
        if (!error_.empty()) {
            return;
        }
        const std::string config = file("config");
        std::ofstream(config) << "xwayland enable\n"
                              << "no_focus [title=\"^(Camsteer|Output|Histogram)$\"]\n"
                              << "exec " << noteDisplays() << "\n";
        sway_ = std::make_unique<Process>(launch("sway", {"-c", config},
                                                 {{"WLR_BACKENDS", "headless"},
                                                  {"WLR_RENDERER", "pixman"},
                                                  {"WLR_LIBINPUT_NO_DEVICES", "1"},
                                                  {"DISPLAY", std::nullopt},
                                                  {"WAYLAND_DISPLAY", std::nullopt}}),
                                          runtime_.path());
        waitForDisplays(*sway_);
        ipcSocket_ = file("sway-ipc." + std::to_string(user_->uid) + "." +
                          std::to_string(sway_->pid()) + ".sock");
    }
    ~SwaySession() {
        if (sway_) {
            sway_->signal(SIGTERM);
            sway_->wait(10s);
            sway_.reset();
        }
        // The clients end with their compositor; any that does not is ended here.
        for (int n = 0; n < clients_; ++n) {
            std::istringstream text(readFile(file("client" + std::to_string(n) + ".pid")));
            pid_t client = 0;
            struct stat owner {};
            if (text >> client && client > 0 &&
                stat(("/proc/" + std::to_string(client)).c_str(), &owner) == 0 &&
                owner.st_uid == user_->uid) {
                kill(client, SIGKILL);
            }
        }
    }
    SwaySession(const SwaySession&) = delete;
    SwaySession& operator=(const SwaySession&) = delete;

    // Has sway run the shell command `command` (a client, ended with the session); false when
    // sway refused.
    bool exec(const std::string& command) {
        const std::string n = std::to_string(clients_++);
        const std::string script = file("client" + n + ".sh");
        std::ofstream(script) << "echo $$ > " << file("client" + n + ".pid") << "\nexec " << command
                              << "\n";
        chmod(script.c_str(), 0755);
        return swaymsg("exec " + script);
    }
    // Has sway run one command (criteria and all); whether it succeeded.
    bool swaymsg(const std::string& command) {
        const Finished done =
            runToEnd(Launch{"swaymsg", {"-s", ipcSocket_, "--", command}, {}, "", std::nullopt},
                     runtime_.path());
        return done.status && done.status->exited() && done.status->code() == 0;
    }
    // Whether the focused window matches `criteria` (app_id="...", class="...").
    bool focused(const std::string& criteria) {
        return swaymsg("[" + criteria + " con_id=__focused__] nop");
    }
    // What sway and the clients it started have printed so far, for failure messages.
    std::string output() const { return sway_ ? sway_->err() : ""; }

  private:
    std::unique_ptr<Process> sway_;
    std::string ipcSocket_;
    int clients_ = 0;
};

}  // namespace camsteer::e2e
