#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/session/window_watch.hpp"
#include "platform/camera/capture.hpp"
#include "platform/keys/held_keys.hpp"
#include "platform/keys/key_watchdog.hpp"
#include "platform/session/desktop_session.hpp"

namespace camsteer {

// Watches a run from a thread of its own for what the window loop cannot see in time:
// - No frame for the stall bound (a quarter of a second, or three frame intervals of a slower
//   clip): the keys are released, since nothing shows any more where the object is. The next
//   frame presses again what it wants.
// - SIGTSTP (Ctrl-Z), SIGTTIN, SIGTTOU: the keys are paused (released, and frames press none),
//   then the process stops as the signal would stop it. Once continued, the next frame presses
//   again what it wants.
//   A signal ignored when the watch starts (a job control shell's choice) stays ignored.
// - The main window destroyed by another X client.
// - A window of this program taking the keyboard focus (the user clicked into it to move a
//   slider or teach a colour): the keys are held back (released, and frames press none) until
//   the focus goes elsewhere; the next frame then presses again what it wants.
// - The key watchdog's news: keys it released while the process was stopped are released here
//   too (so the next frame presses again what it wants), and a watchdog that ended is replaced,
//   with one line either way.
class RunWatch {
  public:
    // `keys`: the run's held keys, or null without keys. `mainWindow` is the title of the window
    // whose destruction ends the run, watched on the session's X display. `watchdog`: the keys'
    // watchdog, or null without one.
    RunWatch(const Capture& capture, HeldKeys* keys, std::string mainWindow,
             const DesktopSession& session, KeyWatchdog* watchdog = nullptr);
    ~RunWatch();  // ends the thread; stop signals act by default again
    RunWatch(const RunWatch&) = delete;
    RunWatch& operator=(const RunWatch&) = delete;

    // True once the main window was destroyed from outside.
    bool mainWindowDestroyed() const { return windowDestroyed_; }
    // The same for the watch of this run, for the window loop; false while none runs.
    static bool runsMainWindowDestroyed();
    // Key releases made because frames stopped coming.
    int stallReleases() const { return stallReleases_; }

    // How long without a frame counts as a stall for a source with frames `interval` seconds
    // apart (0 for a camera).
    static std::chrono::milliseconds stallBound(double interval);

  private:
    // Before the thread starts, what the system needs for the stop signals (Linux: the thread's
    // wake-up pipe and the Ctrl-Z handlers); false when the watch cannot run.
    bool prepareStops();
    // The thread (run_watch_linux.cpp, run_watch_windows.cpp): turns until the watch ends.
    void run();
    // One turn, the same on every system: looks for the main window while it is not found yet
    // (`searches` counts the tries), takes the window events, and releases the keys when frames
    // stopped coming (`releasedAt`: the last frame's time when they were). Returns how long the
    // next turn may wait.
    std::chrono::steady_clock::duration turn(std::chrono::steady_clock::time_point& releasedAt,
                                             int& searches);
    void stopProcess(int signo);
    // Takes the window events: the main window's end, and the focus entering or leaving the
    // program's windows, which holds the keys back or lets them go out again.
    void followWindows();
    // Takes the watchdog's news; false once it is given up (it cannot be started again).
    // `releasedAt` as in run(): a stop the watchdog released for is no stall.
    bool followWatchdog(std::chrono::steady_clock::time_point& releasedAt);

    const Capture& capture_;
    HeldKeys* keys_;
    KeyWatchdog* watchdog_;
    int unreadyEnds_ = 0;  // watchdogs in a row that ended before reaching the backend
    std::string mainWindow_;
    // Looked for first by the constructor, before any frame can press a key: a window destroyed
    // before it is found would go unnoticed.
    WindowWatch window_;
    bool watching_ = false;
    bool heldBackForFocus_ = false;  // the thread's own once it runs
    int wake_[2] = {-1, -1};         // Linux: the thread's wake-up pipe
    // Windows: ends the thread's wait.
    std::mutex quitLock_;
    std::condition_variable quitSignal_;
    bool quit_ = false;
    static std::atomic<const RunWatch*> current_;  // this run's watch, for the window loop
    std::atomic<bool> windowDestroyed_{false};
    std::atomic<int> stallReleases_{0};
    std::thread thread_;
};

}  // namespace camsteer
