#include "app/session/run_watch.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "app/session/signals.hpp"
#include "app/session/window_watch.hpp"
#include "platform/process/program_name.hpp"

namespace camsteer {

namespace {

using Clock = std::chrono::steady_clock;

const int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};
constexpr char kQuit = 0;

// The watch's wake-up pipe, for the stop signals' handler; -1 while no watch runs.
volatile sig_atomic_t gWakeFd = -1;

// Async-signal-safe: hands the signal to the watch's thread, which does the rest.
void onTerminalStop(int signo) {
    const int saved = errno;
    const char byte = static_cast<char>(signo);
    if (gWakeFd >= 0 && ::write(gWakeFd, &byte, 1) < 0) {
        // A full pipe already holds a wake-up.
    }
    errno = saved;
}

// The watch of this run, for the window loop.
std::atomic<const RunWatch*> gCurrent{nullptr};

// Give up looking for the main window after this many tries (a Wayland window has no X id).
constexpr int kWindowSearches = 50;

}  // namespace

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
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    gWakeFd = wake_[1];
    for (int signo : kStopSignals) {
        handleUnlessIgnored(signo, onTerminalStop, SA_RESTART);
    }
    watching_ = window_.watch(mainWindow_);
    followWindows();  // a window manager may have given a new window the focus
    thread_ = std::thread(&RunWatch::run, this);
    gCurrent = this;
}

bool RunWatch::runsMainWindowDestroyed() {
    const RunWatch* current = gCurrent;
    return current != nullptr && current->mainWindowDestroyed();
}

RunWatch::~RunWatch() {
    if (!thread_.joinable()) {
        return;
    }
    gCurrent = nullptr;
    for (int signo : kStopSignals) {
        struct sigaction current {};
        if (::sigaction(signo, nullptr, &current) == 0 && current.sa_handler == onTerminalStop) {
            ::signal(signo, SIG_DFL);
        }
    }
    gWakeFd = -1;
    const char quit = kQuit;
    while (::write(wake_[1], &quit, 1) < 0 && errno == EAGAIN) {
        std::this_thread::yield();
    }
    thread_.join();
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void RunWatch::stopProcess(int signo) {
    if (keys_ != nullptr) {
        keys_->pause(HeldKeys::Hold::kStopped);
    }
    // Stop as the signal would: its default action, raised on this thread. This returns once
    // the process is continued (or at once, where the default is to ignore it: an orphaned
    // process group).
    struct sigaction byDefault {};
    struct sigaction ours {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(signo, &byDefault, &ours);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signo);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signo);
    ::sigaction(signo, &ours, nullptr);
    if (keys_ != nullptr) {
        keys_->resume(HeldKeys::Hold::kStopped);
    }
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

void RunWatch::run() {
    const auto bound = stallBound(capture_.sourceInterval());
    int searches = 1;                // the constructor's
    Clock::time_point releasedAt{};  // the last frame's time when the keys were released
    for (;;) {
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
        const int timeoutMs = static_cast<int>(std::max<long>(
            1, std::chrono::duration_cast<std::chrono::milliseconds>(wait).count() + 1));

        pollfd fds[3] = {{wake_[0], POLLIN, 0},
                         {watchdog_ != nullptr ? watchdog_->newsFd() : -1, POLLIN, 0},
                         {window_.fd(), POLLIN, 0}};
        if (::poll(fds, fds[2].fd >= 0 ? 3 : 2, timeoutMs) < 0 && errno != EINTR) {
            continue;
        }
        if (fds[1].revents != 0 && !followWatchdog(releasedAt)) {
            watchdog_ = nullptr;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            char bytes[16];
            const ssize_t n = ::read(wake_[0], bytes, sizeof(bytes));
            for (ssize_t i = 0; i < n; ++i) {
                if (bytes[i] == kQuit) {
                    return;
                }
                // The stop releases the keys of the latest frame; counting its time as a stall
                // would release again what the first frames after continuing press.
                releasedAt = capture_.lastFrameAt();
                stopProcess(bytes[i]);
            }
        }
    }
}

}  // namespace camsteer
