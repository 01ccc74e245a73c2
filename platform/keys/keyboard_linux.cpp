// Opening a key backend on Linux: the first of keyBackendOrder() that works.

#include <string>
#include <utility>

#include "platform/keys/keyboard.hpp"
#include "platform/keys/keyboard_uinput.hpp"
#include "platform/keys/keyboard_wayland.hpp"
#include "platform/keys/keyboard_xtest.hpp"
#include "platform/keys/portal.hpp"

namespace camsteer {

namespace {

std::unique_ptr<Keyboard> openBackend(KeyBackend backend, const DesktopSession& session,
                                      const KeyBindings& bindings, std::string& why) {
    switch (backend) {
        case KeyBackend::kXTest:
            return openXTestKeyboard(session, bindings, why);
        case KeyBackend::kUinput:
            return openUinputKeyboard(bindings, why);
        case KeyBackend::kVirtualKeyboard:
            return openVirtualKeyboard(session, bindings, why);
        case KeyBackend::kFakeInput:
            return openFakeInputKeyboard(session, bindings, why);
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
void choose(const std::vector<KeyBackend>& order, size_t from, const DesktopSession& session,
            const KeyBindings& bindings, KeyboardChoice& choice) {
    const bool waylandSession = session.kind() == SessionKind::kWayland;
    for (size_t i = from; i < order.size(); ++i) {
        const KeyBackend backend = order[i];
        std::string why;
        if (backend == KeyBackend::kPortal) {
            // The user may refuse: the rest of the order gives the fallback, its failures
            // noted after the portal's own.
            KeyboardChoice rest;
            choose(order, i + 1, session, bindings, rest);
            choice.keyboard = openPortalKeyboard(session, rest.keyboard, rest.inUse, bindings, why);
            if (choice.keyboard) {
                choice.inUse = inUseLine(backend, waylandSession);
                return;
            }
            choice.failures.push_back(std::string("key output via ") + keyBackendName(backend) +
                                      " unavailable: " + why);
            choice.failures.insert(choice.failures.end(), rest.failures.begin(),
                                   rest.failures.end());
            choice.keyboard = std::move(rest.keyboard);
            choice.inUse = rest.inUse;
            return;
        }
        choice.keyboard = openBackend(backend, session, bindings, why);
        if (choice.keyboard) {
            choice.inUse = inUseLine(backend, waylandSession);
            return;
        }
        choice.failures.push_back(std::string("key output via ") + keyBackendName(backend) +
                                  " unavailable: " + why);
    }
}

}  // namespace

KeyboardChoice openKeyboard(const DesktopSession& session, const KeyBindings& bindings) {
    KeyboardChoice choice;
    choose(keyBackendOrder(session), 0, session, bindings, choice);
    return choice;
}

}  // namespace camsteer
