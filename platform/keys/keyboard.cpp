#include "platform/keys/keyboard.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/keys/keyboard_uinput.hpp"
#include "platform/keys/keyboard_wayland.hpp"
#include "platform/keys/keyboard_xtest.hpp"
#include "platform/keys/portal.hpp"

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

namespace {

std::unique_ptr<Keyboard> openBackend(KeyBackend backend, const KeyBindings& bindings,
                                      std::string* reason) {
    switch (backend) {
        case KeyBackend::kXTest:
            return openXTestKeyboard(bindings, reason);
        case KeyBackend::kUinput:
            return openUinputKeyboard(bindings, reason);
        case KeyBackend::kVirtualKeyboard:
            return openVirtualKeyboard(bindings, reason);
        case KeyBackend::kFakeInput:
            return openFakeInputKeyboard(bindings, reason);
        case KeyBackend::kPortal:
            break;  // opened with the backend after it (see choose())
    }
    return nullptr;
}

// The line naming the backend in use.
std::string inUseLine(KeyBackend backend, bool waylandSession) {
    std::string line = std::string("key output via ") + keyBackendName(backend);
    if (backend == KeyBackend::kXTest && waylandSession) {
        line +=
            " into Xwayland: only X11 applications receive the keys; for every application set "
            "up uinput (see 'man camsteer')";
    }
    return line;
}

// Opens the first backend of order[from...] that works, noting each failure in order.
void choose(const std::vector<KeyBackend>& order, size_t from, bool waylandSession,
            const KeyBindings& bindings, KeyboardChoice& choice) {
    for (size_t i = from; i < order.size(); ++i) {
        const KeyBackend backend = order[i];
        std::string reason;
        if (backend == KeyBackend::kPortal) {
            // The user may refuse: the rest of the order gives the fallback, its failures
            // noted after the portal's own.
            KeyboardChoice rest;
            choose(order, i + 1, waylandSession, bindings, rest);
            choice.keyboard = openPortalKeyboard(rest.keyboard, rest.inUse, bindings, &reason);
            if (choice.keyboard) {
                choice.inUse = inUseLine(backend, waylandSession);
                return;
            }
            choice.failures.push_back(std::string("key output via ") + keyBackendName(backend) +
                                      " unavailable: " + reason);
            choice.failures.insert(choice.failures.end(), rest.failures.begin(),
                                   rest.failures.end());
            choice.keyboard = std::move(rest.keyboard);
            choice.inUse = rest.inUse;
            return;
        }
        choice.keyboard = openBackend(backend, bindings, &reason);
        if (choice.keyboard) {
            choice.inUse = inUseLine(backend, waylandSession);
            return;
        }
        choice.failures.push_back(std::string("key output via ") + keyBackendName(backend) +
                                  " unavailable: " + reason);
    }
}

}  // namespace

KeyboardChoice openKeyboard(const KeyBindings& bindings) {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    KeyboardChoice choice;
    choose(keyBackendOrder(display, wayland, sessionType), 0,
           classifySession(display, wayland, sessionType) == SessionKind::kWayland, bindings,
           choice);
    return choice;
}

}  // namespace camsteer
