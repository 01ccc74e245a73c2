#include "platform/keys/keyboard_sendinput.hpp"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/process/program_name.hpp"

namespace camsteer {

namespace {

class SendInputKeyboard final : public Keyboard {
  public:
    explicit SendInputKeyboard(const KeyBindings& bindings) : bindings_(bindings) {}

    void key(SteeringKey key, bool down) override {
        const KeyName& name = bindings_[key];
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        // The scan code decides what the receiver sees, as for a key typed on a keyboard; the
        // virtual-key code goes along for the record (and alone for a key without a scan code).
        input.ki.wVk = name.vk;
        input.ki.wScan = name.scan;
        input.ki.dwFlags = (name.scan != 0 ? KEYEVENTF_SCANCODE : 0) |
                           (name.extended ? KEYEVENTF_EXTENDEDKEY : 0) |
                           (down ? 0 : KEYEVENTF_KEYUP);
        queue_.push_back(input);
    }

    void flush() override {
        if (queue_.empty()) {
            return;
        }
        const UINT sent = SendInput(static_cast<UINT>(queue_.size()), queue_.data(), sizeof(INPUT));
        if (sent != queue_.size() && !reportedBlocked_) {
            // SendInput says no more than that: the focused window runs with more rights than
            // this program (UIPI), or the desktop is locked.
            reportedBlocked_ = true;
            std::fprintf(stderr,
                         "%s: Windows refused key input (error %lu); a program run as "
                         "administrator takes keys only from one run as administrator too\n",
                         programName(), GetLastError());
        }
        queue_.clear();
    }

    const char* name() const override { return "SendInput"; }
    // Windows keeps an injected key down after the process that pressed it is gone.
    std::string watchdogBackend() const override { return name(); }

  private:
    KeyBindings bindings_;
    std::vector<INPUT> queue_;
    bool reportedBlocked_ = false;
};

}  // namespace

std::unique_ptr<Keyboard> openSendInputKeyboard(const KeyBindings& bindings, std::string& /*why*/) {
    return std::make_unique<SendInputKeyboard>(bindings);
}

}  // namespace camsteer
