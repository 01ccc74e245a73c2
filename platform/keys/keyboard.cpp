#include "platform/keys/keyboard.hpp"

#include <algorithm>
#include <cstring>
#include <string>

namespace camsteer {

namespace {

bool isSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

}  // namespace

void Keyboard::keys(KeySet set, bool down) {
    for (int k = 0; k < kSteeringKeyCount; ++k) {
        if (set.test(static_cast<SteeringKey>(k))) {
            key(static_cast<SteeringKey>(k), down);
        }
    }
}

void Keyboard::releaseAll() {
    keys(KeySet::all(), false);
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

std::vector<KeyBackend> keyBackendOrder(const char* display, const char* waylandDisplay,
                                        const char* sessionType) {
    using B = KeyBackend;
    std::vector<KeyBackend> order;
    switch (classifySession(display, waylandDisplay, sessionType)) {
        case SessionKind::kX11:
            order = {B::kXTest, B::kUinput, B::kVirtualKeyboard, B::kFakeInput};
            break;
        case SessionKind::kWayland:
            order = {B::kVirtualKeyboard, B::kFakeInput, B::kUinput, B::kPortal, B::kXTest};
            break;
        case SessionKind::kNone:
            order = {B::kUinput};
            break;
    }
    order.erase(std::remove_if(order.begin(), order.end(),
                               [&](KeyBackend b) {
                                   return (b == B::kXTest && !isSet(display)) ||
                                          ((b == B::kVirtualKeyboard || b == B::kFakeInput) &&
                                           !isSet(waylandDisplay));
                               }),
                order.end());
    return order;
}

const char* keyBackendName(KeyBackend backend) {
    switch (backend) {
        case KeyBackend::kXTest:
            return "XTest";
        case KeyBackend::kUinput:
            return "uinput";
        case KeyBackend::kVirtualKeyboard:
            return "the virtual-keyboard protocol";
        case KeyBackend::kFakeInput:
            return "KDE fake input";
        case KeyBackend::kPortal:
            return "the desktop's remote-desktop portal";
    }
    return "";
}

}  // namespace camsteer
