#include "platform/keys/keyboard_sendinput.hpp"

#include <windows.h>

#include <array>
#include <cstdio>
#include <vector>

#include "platform/process/program_name.hpp"

namespace camsteer {

namespace {

// The one table of this backend's codes, per steering key. The scan codes are the keys' set-1
// codes, the same under every keyboard layout: the arrows are extended keys (E0 48...), and
// the keypad's plus and minus plain ones.
constexpr std::array<SendInputCode, kSteeringKeyCount> kSendInputCodes = {{
    {VK_UP, 0x48, true},
    {VK_DOWN, 0x50, true},
    {VK_LEFT, 0x4B, true},
    {VK_RIGHT, 0x4D, true},
    {VK_ADD, 0x4E, false},
    {VK_SUBTRACT, 0x4A, false},
}};

class SendInputKeyboard final : public Keyboard {
  public:
    void key(int virtualKey, bool down) override {
        const SendInputCode code = sendInputCode(virtualKey);
        if (code.virtualKey == 0) {
            return;
        }
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        // The scan code decides what the receiver sees, as for a key typed on a keyboard; the
        // virtual-key code goes along for the record.
        input.ki.wVk = code.virtualKey;
        input.ki.wScan = code.scanCode;
        input.ki.dwFlags = KEYEVENTF_SCANCODE | (code.extended ? KEYEVENTF_EXTENDEDKEY : 0) |
                           (down ? 0 : KEYEVENTF_KEYUP);
        queue_.push_back(input);
    }

    void flush() override {
        if (queue_.empty()) {
            return;
        }
        const UINT sent = SendInput(static_cast<UINT>(queue_.size()), queue_.data(), sizeof(INPUT));
        if (sent != queue_.size() && !reportedBlocked_) {
            // SendInput says nothing more than that: another program's input came first, or
            // the focused window runs with more rights than this one (UIPI).
            reportedBlocked_ = true;
            std::fprintf(stderr,
                         "%s: Windows refused key input (error %lu); a program run as "
                         "administrator only takes keys from one run as administrator too\n",
                         programName(), GetLastError());
        }
        queue_.clear();
    }

    const char* name() const override { return "SendInput"; }

  private:
    std::vector<INPUT> queue_;
    bool reportedBlocked_ = false;
};

}  // namespace

SendInputCode sendInputCode(int virtualKey) {
    const SteeringKey key = steeringKeyOf(virtualKey);
    return key == kSteeringKeyCount ? SendInputCode{} : kSendInputCodes[key];
}

std::unique_ptr<Keyboard> openSendInputKeyboard(std::string*) {
    return std::make_unique<SendInputKeyboard>();
}

}  // namespace camsteer
