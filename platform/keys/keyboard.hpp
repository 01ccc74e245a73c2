#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/keys/key_names.hpp"
#include "platform/session/desktop_session.hpp"
#include "tracker/key_sink.hpp"

namespace camsteer {

// System-wide keystroke injection. One instance is used from one thread at a time
// (the capture thread while frames run, the main thread at shutdown).
class Keyboard {
  public:
    virtual ~Keyboard() = default;
    // Queues a press (down) or release of the key bound to one steering key (the backend took
    // its codes from the KeyBindings it was opened with).
    virtual void key(SteeringKey key, bool down) = 0;
    // Delivers what was queued since the last flush.
    virtual void flush() = 0;
    // Short backend name for messages ("uinput", "XTest").
    virtual const char* name() const = 0;
    // The backend (by name()) whose keys a watchdog must release should this process die: this
    // one when its pressed keys outlive the process that pressed them, or the one it may hand
    // its keys to; "" when they go with the process (the kernel removes a uinput device with
    // its last descriptor, a wlroots compositor drops a virtual keyboard with its client).
    virtual std::string watchdogBackend() const { return ""; }
    // Whether the backend still answers: a round trip where there is one to make, true where
    // there is none.
    virtual bool reachable() { return true; }
    // Queues a press (down) or release of each steering key in `set`, in steering order.
    void keys(KeySet set, bool down);
    // Releases the six steering keys and flushes; safe to call any number of times.
    void releaseAll();
};

// What choosing a backend at start-up gave: the keyboard and the line that names it
// ("key output via XTest"), or none and one line per backend tried saying why it could not be
// opened and how to fix that.
struct KeyboardChoice {
    std::unique_ptr<Keyboard> keyboard;
    std::string inUse;
    std::vector<std::string> failures;
};

// The ways keys can be put into the session.
enum class KeyBackend {
    kXTest,            // the X server's XTEST extension
    kUinput,           // a kernel virtual keyboard; works under every desktop, needs the udev rule
    kVirtualKeyboard,  // zwp_virtual_keyboard_v1 of wlroots compositors
    kFakeInput,        // KDE Plasma's org_kde_kwin_fake_input
    kPortal,           // the desktop's remote-desktop portal (GNOME, KDE Plasma), with consent
};

// The backends to try, in order. The session's kind is only a hint, which can be wrong (a stray
// WAYLAND_DISPLAY, a wrong XDG_SESSION_TYPE), so what it hints at comes first and the rest
// follow: X11: XTest, uinput, virtual keyboard, fake input; Wayland: virtual keyboard, fake
// input, uinput, the remote-desktop portal (which asks the user), then XTest into Xwayland,
// which reaches X11 applications only. XTest is left out without an X display, the Wayland
// protocols without a Wayland display.
std::vector<KeyBackend> keyBackendOrder(const DesktopSession& session);

// The backend's name in messages ("XTest", "uinput", ...).
const char* keyBackendName(KeyBackend backend);

// Opens the first backend of keyBackendOrder() for the session that works, sending the keys
// `bindings` names. The portal's answer comes later, so the backend after it is opened too, to
// take over should the user refuse.
KeyboardChoice openKeyboard(const DesktopSession& session, const KeyBindings& bindings);

}  // namespace camsteer
