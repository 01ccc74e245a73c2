#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/capture.hpp"
#include "platform/keyboard.hpp"

namespace camsteer {

// Passes a backend's key releases always and its presses only while open. Put between the
// held-key set and the backend, whose lock serialises it with releaseAll(): once closed, no
// press gets through, whatever frame is being processed.
class KeyGate final : public Keyboard {
  public:
    explicit KeyGate(std::unique_ptr<Keyboard> backend) : backend_(std::move(backend)) {}
    void key(int virtualKey, bool down) override {
        if (!down || open_) {
            backend_->key(virtualKey, down);
        }
    }
    void flush() override { backend_->flush(); }
    const char* name() const override { return backend_->name(); }
    void allowPresses(bool allow) { open_ = allow; }

  private:
    std::unique_ptr<Keyboard> backend_;
    std::atomic<bool> open_{true};
};

// Watches a run from a thread of its own for what the key loop cannot see in time:
// - No frame for the stall bound (a quarter of a second, or three frame intervals of a slower
//   clip): the keys are released, since nothing shows any more where the object is. The next
//   frame presses again what it wants.
// - SIGTSTP (Ctrl-Z), SIGTTIN, SIGTTOU: presses are held back and the keys released, then the
//   process stops as the signal would stop it. Once continued, the next frame presses again.
//   A signal ignored when the watch starts (a job control shell's choice) stays ignored.
// - The main window destroyed by another X client.
class RunWatch {
  public:
    // `releaseAll` releases every key down and forgets it (HeldKeys::releaseAll); `gate` is the
    // gate in front of the backend, or null without keys. `mainWindow` is the title of the
    // window whose destruction ends the run.
    RunWatch(const Capture& capture, std::function<void()> releaseAll, KeyGate* gate,
             std::string mainWindow);
    ~RunWatch();  // ends the thread; stop signals act by default again
    RunWatch(const RunWatch&) = delete;
    RunWatch& operator=(const RunWatch&) = delete;

    // True once the main window was destroyed from outside.
    bool mainWindowDestroyed() const { return windowDestroyed_; }
    // The same for the watch of this run, for the key loop; false while none runs.
    static bool runsMainWindowDestroyed();
    // Key releases made because frames stopped coming.
    int stallReleases() const { return stallReleases_; }

    // How long without a frame counts as a stall for a source with frames `interval` seconds
    // apart (0 for a camera).
    static std::chrono::milliseconds stallBound(double interval);

  private:
    void run();
    void stopProcess(int signo);

    const Capture& capture_;
    std::function<void()> releaseAll_;
    KeyGate* gate_;
    std::string mainWindow_;
    int wake_[2] = {-1, -1};
    std::atomic<bool> windowDestroyed_{false};
    std::atomic<int> stallReleases_{0};
    std::thread thread_;
};

}  // namespace camsteer
