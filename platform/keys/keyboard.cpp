#include "platform/keys/keyboard.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/keys/keyboard_uinput.hpp"
#include "platform/keys/keyboard_wayland.hpp"
#include "platform/keys/keyboard_xtest.hpp"

namespace camsteer {

namespace {

bool isSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

}  // namespace

void Keyboard::keys(KeySet set, bool down) {
    for (int k = 0; k < kSteeringKeyCount; ++k) {
        if (set.test(static_cast<SteeringKey>(k))) {
            key(kSteeringKeys[k], down);
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
            order = {B::kVirtualKeyboard, B::kFakeInput, B::kUinput, B::kXTest};
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
    }
    return "";
}

namespace {

std::unique_ptr<Keyboard> openBackend(KeyBackend backend, std::string* reason) {
    switch (backend) {
        case KeyBackend::kXTest:
            return openXTestKeyboard(reason);
        case KeyBackend::kUinput:
            return openUinputKeyboard(reason);
        case KeyBackend::kVirtualKeyboard:
            return openVirtualKeyboard(reason);
        case KeyBackend::kFakeInput:
            return openFakeInputKeyboard(reason);
    }
    return nullptr;
}

}  // namespace

KeyboardChoice openKeyboard() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    const bool waylandSession =
        classifySession(display, wayland, sessionType) == SessionKind::kWayland;
    KeyboardChoice choice;
    for (KeyBackend backend : keyBackendOrder(display, wayland, sessionType)) {
        std::string reason;
        choice.keyboard = openBackend(backend, &reason);
        if (!choice.keyboard) {
            choice.failures.push_back(std::string("key output via ") + keyBackendName(backend) +
                                      " unavailable: " + reason);
            continue;
        }
        choice.inUse = std::string("key output via ") + keyBackendName(backend);
        if (backend == KeyBackend::kXTest && waylandSession) {
            choice.inUse +=
                " into Xwayland: only X11 applications receive the keys; for every "
                "application set up uinput (see 'man camsteer')";
        }
        break;
    }
    return choice;
}

}  // namespace camsteer
