#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/keys/keyboard.hpp"
#include "tracker/key_sink.hpp"

namespace camsteer {

// The one way keys reach the key backend: holds the steering keys the way a person's held keys
// are held. Each frame asks for a state of all six keys; only the difference reaches the
// backend, releases before presses, and the backend is flushed only when something changed.
// A key asked for frame after frame is pressed once and stays down, so the desktop's own
// autorepeat repeats it at the user's delay and rate, like a held physical key; of two keys
// held in a corner the later-pressed one repeats. A key is released once, when it is no
// longer asked for, never while it stays asked for: an application that tells repeats from
// fresh presses would otherwise see a new press each frame.
//
// Thread-safe: want() runs on the capture thread, releaseAll() on any thread (not in a signal
// handler). The lock also keeps the backend's connection to one thread at a time.
class HeldKeys : public KeySink {
  public:
    explicit HeldKeys(std::unique_ptr<Keyboard> backend);
    ~HeldKeys() override;  // releases what is down
    HeldKeys(const HeldKeys&) = delete;
    HeldKeys& operator=(const HeldKeys&) = delete;

    // Brings the keys to the wanted states: releases keys no longer wanted, then presses newly
    // wanted ones in steering order, then flushes. Does nothing when nothing changes.
    void want(KeySet wanted) override;
    // Releases every key that is down and forgets it, so the next want() presses again what it
    // asks for.
    void releaseAll();
    // Why keys may be held back: each reason is paused and resumed on its own, and keys go out
    // only while none holds.
    enum class Hold : std::uint8_t {
        kStopped = 1,           // the process is being stopped (Ctrl-Z)
        kOwnWindowFocused = 2,  // a window of this program has the keyboard focus
    };
    // pause() releases every key that is down; until every reason is resumed, want() sends
    // nothing and counts nothing as held, so no release can follow that was not preceded by its
    // press. After the last resume() the next want() presses what it asks for.
    void pause(Hold why = Hold::kStopped);
    void resume(Hold why = Hold::kStopped);
    // After every change of the held set, and after every releaseAll(), writes one byte to fd:
    // KeySet::bits() of the keys down. A change that presses keys is written before
    // they are sent (the set then holds the old and the new keys), so the mirror never misses
    // a key that is down. Writes the current set at once. The descriptor
    // is made non-blocking, so a reader that stops reading can never stall a frame; a failed
    // write is ignored. -1 stops the mirror. The descriptor stays owned by the caller.
    void mirrorTo(int fd);

    // The held set as mirrored.
    std::uint8_t held() const;
    // Whether the backend still answers (Keyboard::reachable).
    bool backendReachable();
    // The backend's short name ("XTest", "uinput", ...).
    const char* backendName() const { return backend_->name(); }

  private:
    void releaseAllLocked();
    void mirrorLocked() const;

    mutable std::mutex lock_;
    std::unique_ptr<Keyboard> backend_;
    std::uint8_t held_ = 0;
    std::uint8_t heldBackBy_ = 0;  // Hold bits
    int mirrorFd_ = -1;
};

}  // namespace camsteer
