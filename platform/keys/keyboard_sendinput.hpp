#pragma once

#include <memory>
#include <string>

#include "platform/keys/keyboard.hpp"

namespace camsteer {

// What SendInput is given for one steering key: the virtual-key code, the scan code of the
// key's place on a PC keyboard, and whether that is an extended key (the arrows of the arrow
// block are; the keypad's plus and minus are not).
struct SendInputCode {
    unsigned short virtualKey = 0;  // 0: not a key of the vocabulary
    unsigned short scanCode = 0;
    bool extended = false;
};

// The codes for a virtual key of the vocabulary; all zero for any other code.
SendInputCode sendInputCode(int virtualKey);

// Key output through SendInput into the desktop's input stream, as a keyboard would type: the
// focused window receives the keys, and so do programs that read DirectInput or raw input,
// which see scan codes only. Opened on any Windows desktop; keys it leaves down stay down
// after this process ends (the key watchdog releases them).
std::unique_ptr<Keyboard> openSendInputKeyboard(std::string* reason);

}  // namespace camsteer
