#pragma once

// A private headless sway (a wlroots Wayland compositor, with Xwayland) for one test. sway
// refuses to run as root, so it runs as an unprivileged user (see unprivilegedUser) with a
// runtime folder of its own; Xwayland there admits only that user, so the clients of the
// session and the program under test run as that user too (see launch()). Stopped, with every
// client it started, in the destructor.

#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "files.hpp"
#include "process.hpp"

namespace camsteer::e2e {

class SwaySession {
  public:
    // Empty when a session can be started here, else what is missing.
    static std::string missing() {
        for (const char* tool : {"sway", "swaymsg", "Xwayland"}) {
            if (findProgram(tool).empty()) {
                return std::string(tool) +
                       " is not installed (scripts/install-deps.sh installs it)";
            }
        }
        return unprivilegedUser() ? "" : "there is no unprivileged user to run sway as";
    }

    // Starts sway with a minimal configuration (Xwayland on; the program's own windows never
    // take the focus from the receiver) and waits until it is up, its displays known. On
    // failure ok() is false and error() says why.
    SwaySession() : user_(unprivilegedUser()) {
        // The runtime folder must be the session user's own and private to it.
        if (!user_ || !runtime_.handTo(user_->uid, user_->gid) ||
            chmod(runtime_.path().c_str(), 0700) != 0) {
            error_ = "cannot hand a runtime folder to an unprivileged user";
            return;
        }
        const std::string config = runtime_.file("config");
        std::ofstream(config) << "xwayland enable\n"
                              << "no_focus [title=\"^(Camsteer|Output|Histogram)$\"]\n"
                              << "exec echo \"$WAYLAND_DISPLAY $DISPLAY\" > "
                              << runtime_.file("displays.tmp") << " && mv "
                              << runtime_.file("displays.tmp") << " " << runtime_.file("displays")
                              << "\n";
        sway_ = std::make_unique<Process>(launch("sway", {"-c", config},
                                                 {{"WLR_BACKENDS", "headless"},
                                                  {"WLR_RENDERER", "pixman"},
                                                  {"WLR_LIBINPUT_NO_DEVICES", "1"},
                                                  {"DISPLAY", std::nullopt},
                                                  {"WAYLAND_DISPLAY", std::nullopt}}),
                                          runtime_.path());
        pollUntil([&] { return !readFile(runtime_.file("displays")).empty() || !sway_->running(); },
                  kStartBound);
        std::istringstream displays(readFile(runtime_.file("displays")));
        displays >> waylandDisplay_ >> xDisplay_;
        ipcSocket_ = ipcSocket();
        if (waylandDisplay_.empty() || xDisplay_.empty() || ipcSocket_.empty()) {
            error_ = "sway did not come up; its output:\n" + sway_->err();
            waylandDisplay_.clear();
        }
    }
    ~SwaySession() {
        if (sway_) {
            // Its clients end with their compositor; any that does not is ended here.
            sway_->signal(SIGTERM);
            sway_->wait(10s);
            sway_.reset();
        }
        for (int n = 0; n < clients_; ++n) {
            std::istringstream text(readFile(runtime_.file("client" + std::to_string(n) + ".pid")));
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

    bool ok() const { return !waylandDisplay_.empty(); }
    const std::string& error() const { return error_; }
    // The session's runtime folder, owned by its user, where its clients may write.
    std::string file(const std::string& name) const { return runtime_.file(name); }
    const std::string& waylandDisplay() const { return waylandDisplay_; }
    const std::string& xDisplay() const { return xDisplay_; }

    // How to run `program` as a client of the session: as its user, with its runtime folder
    // and (unless `env` says otherwise) its displays.
    Launch launch(const std::string& program, const std::vector<std::string>& args,
                  EnvChanges env = {}) const {
        env.insert({{"XDG_RUNTIME_DIR", runtime_.path()},
                    {"HOME", runtime_.path()},
                    {"WAYLAND_DISPLAY", waylandDisplay_},
                    {"DISPLAY", xDisplay_},
                    {"XDG_SESSION_TYPE", "wayland"},
                    {"QT_QPA_PLATFORM", std::nullopt}});
        return Launch{program, args, env, "", user_};
    }

    // Has sway run the shell command `command` (a client, ended with the session); false when
    // sway refused.
    bool exec(const std::string& command) {
        const std::string n = std::to_string(clients_++);
        const std::string script = runtime_.file("client" + n + ".sh");
        std::ofstream(script) << "echo $$ > " << runtime_.file("client" + n + ".pid") << "\nexec "
                              << command << "\n";
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

  private:
    std::string ipcSocket() const {
        const pid_t pid = sway_ ? sway_->pid() : 0;
        const std::string path =
            runtime_.file("sway-ipc." + std::to_string(user_ ? user_->uid : 0) + "." +
                          std::to_string(pid) + ".sock");
        struct stat info {};
        return stat(path.c_str(), &info) == 0 ? path : "";
    }

    std::optional<RunAs> user_;
    TempDir runtime_;
    std::unique_ptr<Process> sway_;
    int clients_ = 0;
    std::string waylandDisplay_;
    std::string xDisplay_;
    std::string ipcSocket_;
    std::string error_;
};

}  // namespace camsteer::e2e
