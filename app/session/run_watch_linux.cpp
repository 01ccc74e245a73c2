#include "app/session/run_watch.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "app/session/signals.hpp"

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

}  // namespace

bool RunWatch::prepareStops() {
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    gWakeFd = wake_[1];
    for (int signo : kStopSignals) {
        handleUnlessIgnored(signo, onTerminalStop, SA_RESTART);
    }
    return true;
}

RunWatch::~RunWatch() {
    if (!thread_.joinable()) {
        return;
    }
    current_ = nullptr;
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

void RunWatch::run() {
    int searches = 1;                // the constructor's
    Clock::time_point releasedAt{};  // the last frame's time when the keys were released
    for (;;) {
        const Clock::duration wait = turn(releasedAt, searches);
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
