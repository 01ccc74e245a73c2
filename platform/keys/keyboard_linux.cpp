// Opening a key backend on Linux: the first of keyBackendOrder() that works.

#include <cstdlib>
#include <string>
#include <utility>

#include "platform/keys/keyboard.hpp"
#include "platform/keys/keyboard_uinput.hpp"
#include "platform/keys/keyboard_wayland.hpp"
#include "platform/keys/keyboard_xtest.hpp"
#include "platform/keys/portal.hpp"

namespace camsteer {

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
