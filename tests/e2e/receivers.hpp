#pragma once

// Real applications as receivers of camsteer's keys: a terminal running `cat -v` with the input
// focus, in a desktop session of its own. What the keys typed is read back from the file cat
// writes. Beds: xterm under a private Xvfb; foot (native Wayland) and xterm (Xwayland) in a
// private headless sway; xterm (Xwayland) in a private headless KWin.

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../common/xvfb.hpp"
#include "files.hpp"
#include "keys.hpp"
#include "kwin_session.hpp"
#include "process.hpp"
#include "sway_session.hpp"
#include "x_client.hpp"

namespace camsteer::e2e {

// The terminal's command: the tty in raw mode without echo, so each key reaches cat at once
// rather than a line at a time, and cat -v writing what it reads, visibly, into `out`. The shell
// creates `out` only after stty, so once it exists the keys are read one by one.
inline std::string catInto(const std::string& out) {
    return "stty raw -echo; exec cat -v > " + out;
}

inline std::string notInstalled(const std::string& tool) {
    return findProgram(tool).empty()
               ? tool + " is not installed (scripts/install-deps.sh installs it)"
               : "";
}

// camsteer_replay with `options`, on the blue sample and `clip` (in `dir`) as a client of
// `session`, with `env`; a copy of it in the session's folder, run from there (see
// WaylandSession::stage).
inline std::unique_ptr<Process> startReplayIn(WaylandSession& session, const std::string& clip,
                                              const TempDir& dir, std::vector<std::string> options,
                                              const EnvChanges& env = {}) {
    // The program runs as the session's user, who must be able to read the clip.
    chmod(dir.path().c_str(), 0755);
    chmod(clip.c_str(), 0644);
    const std::string program = session.stage("camsteer_replay");
    if (program.empty()) {
        throw std::runtime_error("cannot copy camsteer_replay into the session's folder: " +
                                 session.error());
    }
    options.insert(options.end(), {WaylandSession::kSample, clip});
    Launch launch = session.launch(program, options, env);
    launch.cwd = session.file("");
    return std::make_unique<Process>(launch, dir.path());
}

class TerminalBed {
  public:
    virtual ~TerminalBed() = default;
    // Empty when the bed can run here, else what is missing.
    virtual std::string missing() const = 0;
    // Brings up the session and the terminal and gives the terminal the focus; empty on
    // success, else what failed.
    virtual std::string start(const TempDir& dir) = 0;
    // camsteer_replay on the blue sample and `clip` (in `dir`), inside the session.
    virtual std::unique_ptr<Process> startReplay(const std::string& clip, const TempDir& dir) = 0;
    // Options startReplay gives the program before its arguments.
    std::vector<std::string> options;
    // The steering keys the X server holds down, where the bed has an X server of its own to
    // ask (with the suite's connection open, so the server does not reset meanwhile).
    virtual std::optional<std::vector<std::string>> keysDown() { return std::nullopt; }
    // Waits, once the program has ended, until the bed's desktop has let go of its keys where
    // the bed can tell (a chain of several processes may take a while on a loaded machine).
    virtual void awaitRelease() {}

    // What the keys typed so far, as cat -v shows it.
    std::string typed() const { return readFile(out_); }

  protected:
    std::vector<std::string> withOptions(const std::vector<std::string>& arguments) const {
        std::vector<std::string> all = options;
        all.insert(all.end(), arguments.begin(), arguments.end());
        return all;
    }
    std::string out_;
};

class XtermOnXvfb : public TerminalBed {
  public:
    std::string missing() const override {
        return test::Xvfb::installed()
                   ? notInstalled("xterm")
                   : "Xvfb is not installed (scripts/install-deps.sh installs it)";
    }

    std::string start(const TempDir& dir) override {
        xvfb_ = std::make_unique<test::Xvfb>("1024x768x24");
        if (!xvfb_->running()) {
            return xvfb_->error();
        }
        x_ = std::make_unique<XClient>(xvfb_->display());
        if (!x_->ok()) {
            return "cannot connect to " + xvfb_->display();
        }
        out_ = dir.file("typed");
        runtimeDir_ = dir.path();
        terminal_ =
            std::make_unique<Process>(Launch{"xterm",
                                             {"-T", kTitle, "-e", "sh", "-c", catInto(out_)},
                                             env(),
                                             dir.path(),
                                             std::nullopt},
                                      dir.path());
        const std::optional<Window> window = x_->waitForWindow(kTitle, kStartBound);
        if (!window || !pollUntil([&] { return fileExists(out_); }, kStartBound)) {
            return "xterm did not come up; its stderr:\n" + terminal_->err();
        }
        // There is no window manager: the suite gives the focus, as a click would.
        const auto focused = [&] {
            XSetInputFocus(x_->display(), *window, RevertToPointerRoot, CurrentTime);
            Window focus = 0;
            int revert = 0;
            XGetInputFocus(x_->display(), &focus, &revert);
            return focus == *window;
        };
        return pollUntil(focused, kStartBound) ? "" : "xterm did not take the focus";
    }

    std::unique_ptr<Process> startReplay(const std::string& clip, const TempDir& dir) override {
        return std::make_unique<Process>(
            Launch{programPath("camsteer_replay"), withOptions({sampleBlue(), clip}), env(),
                   sourcePath(""), std::nullopt},
            dir.path());
    }

    std::optional<std::vector<std::string>> keysDown() override { return steeringKeysDown(*x_); }

  protected:
    // A desktop session's variables: the display, and a runtime folder (the test's own, so
    // that nothing the program keeps there outlives the test).
    virtual EnvChanges env() const {
        EnvChanges env = sessionEnv(xvfb_->display());
        env["XDG_RUNTIME_DIR"] = runtimeDir_;
        return env;
    }
    const std::string& display() const { return xvfb_->display(); }

  private:
    static constexpr const char* kTitle = "camsteer-receiver";
    std::string runtimeDir_;

    // Destroyed in reverse: the terminal, then the suite's connection, then the server.
    std::unique_ptr<test::Xvfb> xvfb_;
    std::unique_ptr<XClient> x_;
    std::unique_ptr<Process> terminal_;
};

// A terminal in a headless sway, started by sway and focused through its IPC.
class TerminalOnSway : public TerminalBed {
  public:
    // `terminal` runs the command that follows it (foot CMD..., xterm ... -e CMD...); `criteria`
    // picks its window in sway. With `xOnly` the program sees the session's X display alone, as
    // an X11 program would, so it can only send keys into Xwayland.
    TerminalOnSway(std::string tool, std::string terminal, std::string criteria, bool xOnly)
        : tool_(std::move(tool)),
          terminal_(std::move(terminal)),
          criteria_(std::move(criteria)),
          xOnly_(xOnly) {}

    std::string missing() const override {
        const std::string sway = SwaySession::missing();
        return sway.empty() ? notInstalled(tool_) : sway;
    }

    std::string start(const TempDir&) override {
        session_ = std::make_unique<SwaySession>();
        if (!session_->ok()) {
            return session_->error();
        }
        out_ = session_->file("typed");
        if (!session_->exec(terminal_ + " sh -c '" + catInto(out_) + "'")) {
            return "sway did not start " + tool_;
        }
        const bool up = pollUntil(
            [&] {
                return fileExists(out_) && session_->swaymsg("[" + criteria_ + "] focus") &&
                       session_->focused(criteria_);
            },
            kStartBound);
        return up ? ""
                  : tool_ + " did not come up with the focus in sway; its output:\n" +
                        session_->output();
    }

    std::unique_ptr<Process> startReplay(const std::string& clip, const TempDir& dir) override {
        EnvChanges env;
        if (xOnly_) {
            env = {{"WAYLAND_DISPLAY", std::nullopt}, {"XDG_SESSION_TYPE", std::nullopt}};
        }
        return startReplayIn(*session_, clip, dir, options, env);
    }

  private:
    std::string tool_;
    std::string terminal_;
    std::string criteria_;
    bool xOnly_;
    std::unique_ptr<SwaySession> session_;
};

// An Xwayland xterm in a headless KWin, focused as a pager would; the program sends keys through
// KDE's fake input, which KWin grants it by its path. (foot does not survive KWin's virtual
// output, so the terminal here is an X one.)
class XtermOnKwin : public TerminalBed {
  public:
    std::string missing() const override {
        const std::string kwin = KwinSession::missing();
        return kwin.empty() ? notInstalled("xterm") : kwin;
    }

    std::string start(const TempDir&) override {
        const std::string out = "typed";
        session_ = std::make_unique<KwinSession>(
            "camsteer_replay", "xterm -class " + std::string(kClass) + " -e sh -c '" +
                                   catInto("$XDG_RUNTIME_DIR/" + out) + "'");
        if (!session_->ok()) {
            return session_->error();
        }
        out_ = session_->file(out);
        const bool up =
            pollUntil([&] { return fileExists(out_) && session_->activate(kClass); }, kStartBound);
        return up ? "" : "xterm did not come up with the focus in KWin";
    }

    std::unique_ptr<Process> startReplay(const std::string& clip, const TempDir& dir) override {
        return startReplayIn(*session_, clip, dir, options);
    }

  private:
    static constexpr const char* kClass = "CamsteerReceiver";
    std::unique_ptr<KwinSession> session_;
};

inline std::unique_ptr<TerminalBed> footOnSway() {
    return std::make_unique<TerminalOnSway>("foot", "foot -a camsteer-receiver",
                                            "app_id=\"camsteer-receiver\"", false);
}
inline std::unique_ptr<TerminalBed> xtermOnXwayland(bool xOnly) {
    return std::make_unique<TerminalOnSway>("xterm", "xterm -class CamsteerReceiver -e",
                                            "class=\"CamsteerReceiver\"", xOnly);
}

}  // namespace camsteer::e2e
