#include "app/session/run_watch.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/session/window_watch.hpp"
#include "platform/process/program_name.hpp"

namespace camsteer {

namespace {

using Clock = std::chrono::steady_clock;

// Give up looking for the main window after this many tries (a Wayland window has no X id).
constexpr int kWindowSearches = 50;

}  // namespace

std::atomic<const RunWatch*> RunWatch::current_{nullptr};

std::chrono::milliseconds RunWatch::stallBound(double interval) {
    const auto frames = std::chrono::milliseconds(static_cast<long>(3000 * interval));
    return std::max(std::chrono::milliseconds(250), frames);
}

RunWatch::RunWatch(const Capture& capture, HeldKeys* keys, std::string mainWindow,
                   const DesktopSession& session, KeyWatchdog* watchdog)
    : capture_(capture),
      keys_(keys),
      watchdog_(watchdog),
      mainWindow_(std::move(mainWindow)),
      window_(session.x11Display) {
    if (!prepareStops()) {
        return;
    }
    watching_ = window_.watch(mainWindow_);
    followWindows();  // a window manager may have given a new window the focus
    thread_ = std::thread(&RunWatch::run, this);
    current_ = this;
}

bool RunWatch::runsMainWindowDestroyed() {
    const RunWatch* current = current_;
    return current != nullptr && current->mainWindowDestroyed();
}

void RunWatch::followWindows() {
    if (!watching_) {
        return;
    }
    window_.takeEvents();
    windowDestroyed_ = window_.destroyed();
    // Keys sent while a window of ours has the focus would type into the program itself
    // (moving the slider the user just clicked, hiding their Escape): they wait until the user
    // clicks back into the program they steer.
    if (keys_ != nullptr && window_.focused() != heldBackForFocus_) {
        heldBackForFocus_ = window_.focused();
        if (heldBackForFocus_) {
            keys_->pause(HeldKeys::Hold::kOwnWindowFocused);
        } else {
            keys_->resume(HeldKeys::Hold::kOwnWindowFocused);
        }
    }
}

bool RunWatch::followWatchdog(Clock::time_point& releasedAt) {
    const KeyWatchdog::News news = watchdog_->takeNews();
    if (news.releasedForStop && keys_ != nullptr) {
        // Released behind the held keys' back while this process was stopped: forgotten here
        // too, so the next frame presses again what it wants. Nor is the stop a stall, whose
        // release would come again after the first frames' presses.
        keys_->releaseAll();
        releasedAt = capture_.lastFrameAt();
    }
    if (!news.ended) {
        return true;
    }
    const long old = watchdog_->pid();
    std::string why;
    // One that ends while it starts, without saying why, is tried again a few times.
    unreadyEnds_ = news.wasReady ? 0 : unreadyEnds_ + 1;
    if (news.cannotReach && !keys_->backendReachable()) {
        return false;  // nor can the run: the key output says so, and no key outlives that
    }
    if (news.cannotReach) {
        why = "the key watchdog cannot reach " + std::string(keys_->backendName()) + " (" +
              news.reason + ")";
    } else if (unreadyEnds_ > 3) {
        why = "the key watchdog keeps ending as it starts";
    } else if (watchdog_->restart(why)) {
        keys_->mirrorTo(watchdog_->fd());
        std::fprintf(stderr,
                     "%s: the key watchdog (process %ld) ended; a new one (process %ld) took its "
                     "place\n",
                     programName(), old, watchdog_->pid());
        return true;
    }
    std::fprintf(stderr,
                 "%s: %s; should %s be killed now, keys it holds stay down: press and release "
                 "the arrow keys to free them\n",
                 programName(), why.c_str(), programName());
    return false;
}

Clock::duration RunWatch::turn(Clock::time_point& releasedAt, int& searches) {
    const auto bound = stallBound(capture_.sourceInterval());
    if (!watching_ && searches < kWindowSearches) {
        ++searches;
        watching_ = window_.watch(mainWindow_);
    }
    followWindows();
    const Clock::time_point lastFrame = capture_.lastFrameAt();
    const Clock::time_point now = Clock::now();
    if (lastFrame != releasedAt && now - lastFrame >= bound) {
        if (keys_ != nullptr) {
            keys_->releaseAll();
        }
        releasedAt = lastFrame;
        ++stallReleases_;
    }
    // Until the stall bound of the latest frame (a tenth of a second once released), and
    // at most a tenth while the window is still being looked for.
    const Clock::duration tenth = std::chrono::milliseconds(100);
    Clock::duration wait = lastFrame == releasedAt ? tenth : lastFrame + bound - now;
    if (!watching_ && searches < kWindowSearches) {
        wait = std::min(wait, tenth);
    }
    return wait;
}

}  // namespace camsteer
