// Opening the key backend on Windows: SendInput, which every desktop takes.

#include "platform/keys/keyboard.hpp"
#include "platform/keys/keyboard_sendinput.hpp"

namespace camsteer {

KeyboardChoice openKeyboard(const DesktopSession& /*session*/, const KeyBindings& bindings) {
    KeyboardChoice choice;
    std::string why;
    choice.keyboard = openSendInputKeyboard(bindings, why);
    if (choice.keyboard) {
        choice.inUse = "key output via SendInput";
    } else {
        choice.failures.push_back("key output via SendInput unavailable: " + why);
    }
    return choice;
}

}  // namespace camsteer
