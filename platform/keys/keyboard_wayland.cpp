#include "platform/keys/keyboard_wayland.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <utility>

#include "platform/keys/keyboard_uinput.hpp"
#include "platform/process/program_name.hpp"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace camsteer {

namespace {

// How long a new virtual keyboard is left to settle before it is used.
constexpr int kSettleMs = 100;

std::uint32_t nowMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// A sealed memory file holding `text` and its terminating NUL, as the keymap request wants it;
// -1 on failure.
int keymapFile(const std::string& text) {
    const int fd = memfd_create("camsteer-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        return -1;
    }
    const char* data = text.c_str();
    size_t left = text.size() + 1;
    while (left > 0) {
        const ssize_t written = write(fd, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            close(fd);
            return -1;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    return fd;
}

class VirtualKeyboard final : public WaylandKeyboard {
  public:
    VirtualKeyboard(std::unique_ptr<WaylandConnection> connection, const KeyBindings& bindings,
                    wl_seat* seat, zwp_virtual_keyboard_manager_v1* manager,
                    zwp_virtual_keyboard_v1* keyboard)
        : WaylandKeyboard(std::move(connection), "the virtual-keyboard protocol", bindings),
          seat_(seat),
          manager_(manager),
          keyboard_(keyboard) {}
    ~VirtualKeyboard() override {
        if (keyboard_ != nullptr) {
            zwp_virtual_keyboard_v1_destroy(keyboard_);
        }
        zwp_virtual_keyboard_manager_v1_destroy(manager_);
        wl_seat_destroy(seat_);
        connection().flush();
    }

  private:
    void send(int evdevCode, bool down) override {
        zwp_virtual_keyboard_v1_key(
            keyboard_, nowMilliseconds(), static_cast<std::uint32_t>(evdevCode),
            down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    }

    wl_seat* seat_;
    zwp_virtual_keyboard_manager_v1* manager_;
    zwp_virtual_keyboard_v1* keyboard_;
};

}  // namespace

std::string steeringKeymap(const KeyBindings& bindings, std::string& why) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (context == nullptr) {
        why = "libxkbcommon cannot start (no xkb data? install xkb-data)";
        return {};
    }
    // Whether every bound key's evdev code (xkb keycode = evdev + 8) gives its keysym unshifted.
    auto holdsBoundKeys = [&](xkb_keymap* keymap) {
        for (int k = 0; k < kSteeringKeyCount; ++k) {
            const KeyName& bound = bindings[static_cast<SteeringKey>(k)];
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, bound.evdev + 8u, 0, 0, &syms) != 1 ||
                syms[0] != bound.keysym) {
                return false;
            }
        }
        return true;
    };
    // The default names (the user's XKB_DEFAULT_* or the built-in us layout); if those name
    // a layout that does not exist, or one where a bound key types something else, us.
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap == nullptr || !holdsBoundKeys(keymap)) {
        xkb_keymap_unref(keymap);
        const xkb_rule_names us{"evdev", "pc105", "us", "", ""};
        keymap = xkb_keymap_new_from_names(context, &us, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    std::string text;
    if (keymap != nullptr && holdsBoundKeys(keymap)) {
        char* string = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        text = string != nullptr ? string : "";
        std::free(string);
    }
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    if (text.empty()) {
        why = "libxkbcommon cannot make a keymap with the bound keys (is xkb-data installed?)";
    }
    return text;
}

WaylandKeyboard::WaylandKeyboard(std::unique_ptr<WaylandConnection> connection, const char* name,
                                 const KeyBindings& bindings)
    : connection_(std::move(connection)), name_(name), codes_(evdevCodes(bindings)) {}

WaylandKeyboard::~WaylandKeyboard() = default;

void WaylandKeyboard::key(SteeringKey key, bool down) {
    if (!lost_) {
        send(codes_[key], down);
    }
}

void WaylandKeyboard::flush() {
    if (lost_ || connection_->flush()) {
        return;
    }
    lost_ = true;
    std::fprintf(stderr,
                 "%s: lost the connection to the Wayland compositor (%s); keys are no longer "
                 "sent: restart %s once the session is back\n",
                 programName(), connection_->error().c_str(), programName());
}

bool WaylandKeyboard::reachable() {
    // A compositor too busy to answer in time is still there.
    return !lost_ && (connection_->roundtrip() || connection_->error().empty());
}

std::unique_ptr<WaylandKeyboard> openVirtualKeyboard(const DesktopSession& session,
                                                     const KeyBindings& bindings,
                                                     std::string& why) {
    std::unique_ptr<WaylandConnection> connection =
        WaylandConnection::open(session.waylandDisplay, why);
    if (!connection) {
        return nullptr;
    }
    const WaylandConnection::Global* managerGlobal =
        connection->find(zwp_virtual_keyboard_manager_v1_interface.name);
    const WaylandConnection::Global* seatGlobal = connection->find(wl_seat_interface.name);
    if (managerGlobal == nullptr) {
        why =
            "the compositor does not offer virtual keyboards (zwp_virtual_keyboard_manager_v1; "
            "wlroots compositors such as sway do, GNOME and KDE do not)";
        return nullptr;
    }
    if (seatGlobal == nullptr) {
        why = "the compositor has no seat to put a virtual keyboard on";
        return nullptr;
    }
    std::string keymap = steeringKeymap(bindings, why);
    if (keymap.empty()) {
        return nullptr;
    }
    const int fd = keymapFile(keymap);
    if (fd < 0) {
        why = std::string("cannot hand the keymap over (memfd: ") + std::strerror(errno) + ")";
        return nullptr;
    }
    auto* seat = static_cast<wl_seat*>(connection->bind(*seatGlobal, &wl_seat_interface, 1));
    auto* manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
        connection->bind(*managerGlobal, &zwp_virtual_keyboard_manager_v1_interface, 1));
    zwp_virtual_keyboard_v1* device =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, seat);
    zwp_virtual_keyboard_v1_keymap(device, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<std::uint32_t>(keymap.size() + 1));
    close(fd);  // sent with the request
    WaylandConnection& link = *connection;
    auto keyboard =
        std::make_unique<VirtualKeyboard>(std::move(connection), bindings, seat, manager, device);
    // The answer shows a refusal (a compositor that lets only trusted clients make keyboards
    // ends the connection with an error) and lets the seat announce its new keyboard.
    if (!link.roundtrip()) {
        why = "the compositor did not accept the virtual keyboard: " + link.error();
        return nullptr;
    }
    // A seat that had no keyboard gains one now, and the focused client binds it only after it
    // hears of that: a key sent at once is lost. Frames come later than this anyway.
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
    if (!link.roundtrip()) {
        why = "the compositor stopped answering: " + link.error();
        return nullptr;
    }
    return keyboard;
}

}  // namespace camsteer
