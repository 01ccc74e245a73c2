#include "platform/keyboard.hpp"

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/keyboard_uinput.hpp"
#include "platform/keyboard_xtest.hpp"

namespace camsteer {

namespace {

bool isSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

}  // namespace

void Keyboard::releaseAll() {
    for (int virtualKey : kSteeringKeys) {
        key(virtualKey, false);
    }
    flush();
}

SessionKind classifySession(const char* display, const char* waylandDisplay,
                            const char* sessionType) {
    if (isSet(sessionType) && std::strcmp(sessionType, "x11") == 0) {
        return SessionKind::kX11;
    }
    if (isSet(sessionType) && std::strcmp(sessionType, "wayland") == 0) {
        return SessionKind::kWayland;
    }
    if (isSet(waylandDisplay)) {
        return SessionKind::kWayland;
    }
    if (isSet(display)) {
        return SessionKind::kX11;
    }
    return SessionKind::kNone;
}

KeyboardChoice openKeyboard() {
    KeyboardChoice choice;
    const SessionKind session = classifySession(
        std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"));
    std::string reason;
    if (session == SessionKind::kX11) {
        if (auto keyboard = openXTestKeyboard(&reason)) {
            choice.keyboard = std::move(keyboard);
            return choice;
        }
        choice.failures.push_back("key output via XTest unavailable: " + reason);
    }
    if (auto keyboard = openUinputKeyboard(&reason)) {
        choice.keyboard = std::move(keyboard);
        return choice;
    }
    choice.failures.push_back("key output via uinput unavailable: " + reason);
    return choice;
}

}  // namespace camsteer
