#pragma once

#include <linux/input.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "platform/keys/keyboard.hpp"

struct libevdev_uinput;

namespace camsteer {

// The evdev code each steering key sends under `bindings`: one table for every backend that
// speaks evdev codes (uinput, the Wayland protocols, the portal).
std::array<int, kSteeringKeyCount> evdevCodes(const KeyBindings& bindings);

// Queues evdev key events and writes them as struct input_event records to a file
// descriptor it does not own: the uinput device's, or any other (a pipe in tests).
class UinputEventWriter {
  public:
    explicit UinputEventWriter(int fd) : fd_(fd) {}
    // Queues EV_KEY with value 1 (down) or 0 (up). Never 2 (repeat): the desktop repeats a
    // held key itself.
    void key(int evdevCode, bool down);
    // Writes the queued events followed by one EV_SYN/SYN_REPORT in a single write; writes
    // nothing when nothing is queued. Returns false (and sets lastError()) when the write
    // failed; the queue is emptied either way.
    bool flush();
    size_t queued() const { return queue_.size(); }
    int lastError() const { return lastError_; }

  private:
    int fd_;
    std::vector<input_event> queue_;
    int lastError_ = 0;
};

// Key output through a uinput virtual keyboard. Presses and releases are written as asked:
// the kernel itself drops a press of a key that is already down and a release of a key that
// is up.
class UinputKeyboard final : public Keyboard {
  public:
    // Writes the events to fd, which stays owned by the caller; no device is created.
    explicit UinputKeyboard(int fd, const KeyBindings& bindings = KeyBindings());
    // Destroys the virtual device if this object created it; the kernel then releases any key
    // still down. Does not release keys itself (the caller uses releaseAll()).
    ~UinputKeyboard() override;
    UinputKeyboard(const UinputKeyboard&) = delete;
    UinputKeyboard& operator=(const UinputKeyboard&) = delete;

    void key(SteeringKey key, bool down) override;
    void flush() override;
    const char* name() const override { return "uinput"; }
    // The /dev/input/eventN node of the virtual device; empty when writing to a plain
    // descriptor.
    std::string devnode() const;

  private:
    friend std::unique_ptr<UinputKeyboard> openUinputKeyboard(const KeyBindings& bindings,
                                                              std::string& why);
    UinputKeyboard(libevdev_uinput* device, const KeyBindings& bindings);

    libevdev_uinput* device_ = nullptr;
    std::array<int, kSteeringKeyCount> codes_;
    UinputEventWriter writer_;
    bool reportedWriteError_ = false;
};

// The name of the virtual device as the desktop lists it.
constexpr const char* kUinputDeviceName = "camsteer virtual keyboard";

// Creates the virtual keyboard "camsteer virtual keyboard" on /dev/uinput with only the six
// bound keys. On failure returns nullptr and sets `why` to what failed and how to fix it.
std::unique_ptr<UinputKeyboard> openUinputKeyboard(const KeyBindings& bindings, std::string& why);

// The reason text (what failed; how to fix it) for an errno of opening /dev/uinput.
std::string uinputFailureReason(int error);

}  // namespace camsteer
