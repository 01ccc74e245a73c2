#pragma once

#include <memory>
#include <string>

#include "platform/keys/keyboard.hpp"

namespace camsteer {

// Key output through SendInput into the desktop's input stream, as a keyboard would type: each
// key goes as its set-1 scan code, with the extended flag for the keys that have the E0 prefix
// (the arrows), so that programs reading DirectInput or raw input, which see scan codes only,
// get it too; the focused window gets the virtual-key code Windows makes of it. Keys it leaves
// down stay down after this process ends (the key watchdog releases them).
std::unique_ptr<Keyboard> openSendInputKeyboard(const KeyBindings& bindings, std::string& why);

}  // namespace camsteer
