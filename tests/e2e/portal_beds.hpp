#pragma once

// Beds whose keys go through the desktop's remote-desktop portal: the suite's stand-in portal,
// and the real frontend with headless mutter behind it.

#include <memory>
#include <string>
#include <utility>

#include "mutter_session.hpp"
#include "portal_session.hpp"
#include "receivers.hpp"

namespace camsteer::e2e {

// The xterm under Xvfb, with the program in a Wayland session whose compositor offers none of
// the Wayland key protocols: its keys go through the stand-in remote-desktop portal, which puts
// them into the X display.
class XtermViaPortal : public XtermOnXvfb {
  public:
    explicit XtermViaPortal(PortalSession::Options options = {}) : options_(std::move(options)) {}

    std::string missing() const override {
        const std::string xterm = XtermOnXvfb::missing();
        return xterm.empty() ? PortalSession::missing() : xterm;
    }
    std::string start(const TempDir& dir) override {
        const std::string notUp = XtermOnXvfb::start(dir);
        if (!notUp.empty()) {
            return notUp;
        }
        portal_ = std::make_unique<PortalSession>(dir.path(), display(), options_);
        return portal_->error();
    }
    const PortalSession& portal() const { return *portal_; }

  protected:
    EnvChanges env() const override {
        EnvChanges env = XtermOnXvfb::env();
        if (portal_) {
            for (const auto& [name, value] : portal_->env()) {
                env[name] = value;
            }
        }
        return env;
    }

  private:
    PortalSession::Options options_;
    std::unique_ptr<PortalSession> portal_;
};

// foot, a native Wayland terminal, focused in a headless mutter as its newest window; the
// program's keys go through the real portal frontend and the suite's implementation portal into
// mutter. The program's windows open on an Xvfb of their own (the chain has no Xwayland).
class FootOnMutter : public TerminalBed {
  public:
    std::string missing() const override {
        if (!test::Xvfb::installed()) {
            return "Xvfb is not installed (scripts/install-deps.sh installs it)";
        }
        const std::string chain = MutterSession::missing();
        return chain.empty() ? notInstalled("foot") : chain;
    }
    std::string start(const TempDir& dir) override {
        xvfb_ = std::make_unique<test::Xvfb>("1024x768x24");
        if (!xvfb_->running()) {
            return xvfb_->error();
        }
        session_ = std::make_unique<MutterSession>(dir.path());
        if (!session_->error().empty()) {
            return session_->error();
        }
        out_ = dir.file("typed");
        terminal_ =
            std::make_unique<Process>(Launch{"foot",
                                             {"-a", "camsteer-receiver", "sh", "-c", catInto(out_)},
                                             session_->env(),
                                             dir.path(),
                                             std::nullopt},
                                      dir.path());
        return pollUntil([&] { return fileExists(out_) || !terminal_->running(); }, kStartBound) &&
                       terminal_->running()
                   ? ""
                   : "foot did not come up in mutter: " + terminal_->err();
    }
    std::unique_ptr<Process> startReplay(const std::string& clip, const TempDir& dir) override {
        EnvChanges env = session_->env();
        env["DISPLAY"] = xvfb_->display();
        return std::make_unique<Process>(
            Launch{programPath("camsteer_replay"), withOptions({sampleBlue(), clip}), env,
                   sourcePath(""), std::nullopt},
            dir.path());
    }
    // The implementation portal closes the program's session, and with it mutter's, when the
    // frontend tells it the program is gone; mutter then releases the session's keys.
    void awaitRelease() override {
        pollUntil(
            [&] {
                const std::vector<std::string> log = session_->log();
                return !log.empty() && log.back() == "Close";
            },
            10s);
        // What foot had already read reaches the file late on a loaded machine.
        std::string before = typed();
        pollUntil(
            [&] {
                const std::string now = typed();
                return std::exchange(before, now) == now;
            },
            10s, 1s);
    }

  private:
    std::unique_ptr<test::Xvfb> xvfb_;
    std::unique_ptr<MutterSession> session_;
    std::unique_ptr<Process> terminal_;
};

}  // namespace camsteer::e2e
