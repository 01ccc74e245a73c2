#pragma once

#include <memory>
#include <string>

#include "platform/keys/keyboard.hpp"
#include "platform/keys/wayland_connection.hpp"

namespace camsteer {

// An xkb keymap (text format v1) of the default layout, which holds the six steering keys at
// their evdev codes; empty with `why` set when libxkbcommon cannot make one.
std::string steeringKeymap(std::string& why);

// Key output through a Wayland compositor: the virtual-keyboard protocol of wlroots
// compositors, or KDE Plasma's fake input. Keys go as evdev codes on a connection of its own.
// Sending never waits; a compositor that went away marks the backend dead (reported once on
// standard error), after which key() and flush() do nothing.
class WaylandKeyboard : public Keyboard {
  public:
    ~WaylandKeyboard() override;
    WaylandKeyboard(const WaylandKeyboard&) = delete;
    WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;

    void key(int virtualKey, bool down) override;
    void flush() override;
    const char* name() const override { return name_; }
    bool reachable() override;

    bool connectionLost() const { return lost_; }

  protected:
    WaylandKeyboard(std::unique_ptr<WaylandConnection> connection, const char* name);
    // Queues one evdev key event on the protocol object.
    virtual void send(int evdevCode, bool down) = 0;
    WaylandConnection& connection() { return *connection_; }

  private:
    std::unique_ptr<WaylandConnection> connection_;
    const char* name_;
    bool lost_ = false;
};

// Opens a virtual keyboard on the session's Wayland compositor with the default keymap,
// and keeps it for its whole life: a seat that gains its first keyboard tells clients late, so
// a key sent right after creation can be lost. On failure returns nullptr and sets `why`.
std::unique_ptr<WaylandKeyboard> openVirtualKeyboard(const DesktopSession& session,
                                                     std::string& why);

// Opens KDE Plasma's fake input (org_kde_kwin_fake_input, version 4 or later) on the compositor
// of the session and authenticates. KWin offers it only to programs whose desktop
// entry lists it, and does not release a key of a client that dies. On failure returns nullptr
// and sets `why`.
std::unique_ptr<WaylandKeyboard> openFakeInputKeyboard(const DesktopSession& session,
                                                       std::string& why);

}  // namespace camsteer
