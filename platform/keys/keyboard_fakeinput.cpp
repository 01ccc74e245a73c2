#include <wayland-client.h>

#include <utility>

#include "fake-input-client-protocol.h"
#include "platform/keys/keyboard_wayland.hpp"

namespace camsteer {

namespace {

// keyboard_key came with version 4 of the interface, a destroy request with version 5. Bound at
// the highest version both sides know (the protocol file built against may predate 5).
constexpr std::uint32_t kKeyboardVersion = 4;

// Ends the object as its bound version allows: below version 5 there is no destroy request, and
// sending one would be a protocol error, so only the client side goes.
void destroyInput(org_kde_kwin_fake_input* input) {
#ifdef ORG_KDE_KWIN_FAKE_INPUT_DESTROY_SINCE_VERSION
    if (org_kde_kwin_fake_input_get_version(input) >=
        ORG_KDE_KWIN_FAKE_INPUT_DESTROY_SINCE_VERSION) {
        org_kde_kwin_fake_input_destroy(input);
        return;
    }
#endif
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(input));
}

class FakeInputKeyboard final : public WaylandKeyboard {
  public:
    FakeInputKeyboard(std::unique_ptr<WaylandConnection> connection, const KeyBindings& bindings,
                      org_kde_kwin_fake_input* input)
        : WaylandKeyboard(std::move(connection), "KDE fake input", bindings), input_(input) {}
    ~FakeInputKeyboard() override {
        // KWin keeps a key down when the client goes before KWin has handled its release: a
        // program (or its watchdog) that releases and ends at once must wait for KWin first.
        connection().roundtrip();
        destroyInput(input_);
        connection().flush();
    }
    // KWin keeps a fake-input key down after its client is gone.
    std::string watchdogBackend() const override { return name(); }

  private:
    void send(int evdevCode, bool down) override {
        org_kde_kwin_fake_input_keyboard_key(
            input_, static_cast<std::uint32_t>(evdevCode),
            down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    }

    org_kde_kwin_fake_input* input_;
};

}  // namespace

std::unique_ptr<WaylandKeyboard> openFakeInputKeyboard(const DesktopSession& session,
                                                       const KeyBindings& bindings,
                                                       std::string& why) {
    std::unique_ptr<WaylandConnection> connection =
        WaylandConnection::open(session.waylandDisplay, why);
    if (!connection) {
        return nullptr;
    }
    const WaylandConnection::Global* global =
        connection->find(org_kde_kwin_fake_input_interface.name);
    if (global == nullptr) {
        why =
            "the compositor offers no fake input to camsteer (KDE Plasma offers it only to a "
            "program its menu entry asks it for, started by the absolute path the entry names: "
            "install camsteer and start it from the menu)";
        return nullptr;
    }
    if (global->version < kKeyboardVersion) {
        why = "the compositor's fake input is version " + std::to_string(global->version) +
              ", which has no keyboard keys (Plasma 5.22 or later has)";
        return nullptr;
    }
    auto* input = static_cast<org_kde_kwin_fake_input*>(
        connection->bind(*global, &org_kde_kwin_fake_input_interface,
                         static_cast<std::uint32_t>(org_kde_kwin_fake_input_interface.version)));
    org_kde_kwin_fake_input_authenticate(
        input, "Camsteer", "steers the focused application with arrow keys from the webcam");
    WaylandConnection& link = *connection;
    auto keyboard = std::make_unique<FakeInputKeyboard>(std::move(connection), bindings, input);
    if (!link.roundtrip()) {
        why = "the compositor did not accept fake input: " + link.error();
        return nullptr;
    }
    return keyboard;
}

}  // namespace camsteer
