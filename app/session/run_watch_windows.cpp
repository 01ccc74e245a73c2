#include "app/session/run_watch.hpp"

#include <algorithm>

namespace camsteer {

// Windows has no terminal stop (Ctrl-Z) to follow; the stall, the windows and the key
// watchdog's news are looked at on every turn, a tenth of a second apart at most.

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

// Ctrl-Z and its kin do not exist here; the thread's wait ends on quitSignal_.
bool RunWatch::prepareStops() {
    return true;
}

RunWatch::~RunWatch() {
    if (!thread_.joinable()) {
        return;
    }
    current_ = nullptr;
    {
        std::lock_guard<std::mutex> guard(quitLock_);
        quit_ = true;
    }
    quitSignal_.notify_one();
    thread_.join();
}

void RunWatch::run() {
    int searches = 1;                // the constructor's
    Clock::time_point releasedAt{};  // the last frame's time when the keys were released
    std::unique_lock<std::mutex> lock(quitLock_);
    while (!quit_) {
        lock.unlock();
        // Asks without waiting, so a quiet watchdog costs nothing.
        if (watchdog_ != nullptr && !followWatchdog(releasedAt)) {
            watchdog_ = nullptr;
        }
        const Clock::duration wait =
            std::min<Clock::duration>(turn(releasedAt, searches), std::chrono::milliseconds(100));
        lock.lock();
        quitSignal_.wait_for(lock, wait, [this] { return quit_; });
    }
}

}  // namespace camsteer
