#include "platform/keys/keyboard.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/keys/keyboard_uinput.hpp"
#include "platform/keys/keyboard_wayland.hpp"
#include "platform/keys/keyboard_xtest.hpp"
#include "platform/keys/portal.hpp"

namespace camsteer {

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

std::vector<KeyBackend> keyBackendOrder(const DesktopSession& session) {
    using B = KeyBackend;
    std::vector<KeyBackend> order;
    switch (session.kind()) {
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
                                   return (b == B::kXTest && !session.hasX11()) ||
                                          ((b == B::kVirtualKeyboard || b == B::kFakeInput) &&
                                           !session.hasWayland());
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

std::unique_ptr<Keyboard> openBackend(KeyBackend backend, const DesktopSession& session,
                                      std::string& why) {
    switch (backend) {
        case KeyBackend::kXTest:
            return openXTestKeyboard(session, why);
        case KeyBackend::kUinput:
            return openUinputKeyboard(why);
        case KeyBackend::kVirtualKeyboard:
            return openVirtualKeyboard(session, why);
        case KeyBackend::kFakeInput:
            return openFakeInputKeyboard(session, why);
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
            KeyboardChoice& choice) {
    const bool waylandSession = session.kind() == SessionKind::kWayland;
    for (size_t i = from; i < order.size(); ++i) {
        const KeyBackend backend = order[i];
        std::string why;
        if (backend == KeyBackend::kPortal) {
            // The user may refuse: the rest of the order gives the fallback, its failures
            // noted after the portal's own.
            KeyboardChoice rest;
            choose(order, i + 1, session, rest);
            choice.keyboard = openPortalKeyboard(session, rest.keyboard, rest.inUse, why);
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
        choice.keyboard = openBackend(backend, session, why);
        if (choice.keyboard) {
            choice.inUse = inUseLine(backend, waylandSession);
            return;
        }
        choice.failures.push_back(std::string("key output via ") + keyBackendName(backend) +
                                  " unavailable: " + why);
    }
}

}  // namespace

KeyboardChoice openKeyboard(const DesktopSession& session) {
    KeyboardChoice choice;
    choose(keyBackendOrder(session), 0, session, choice);
    return choice;
}

}  // namespace camsteer
