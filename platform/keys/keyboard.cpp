#include "platform/keys/keyboard.hpp"

#include <algorithm>
#include <string>

namespace camsteer {

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

}  // namespace camsteer
