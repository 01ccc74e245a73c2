#pragma once

#include <array>
#include <memory>
#include <string>

#include "platform/keys/keyboard.hpp"
#include "platform/keys/wayland_connection.hpp"

namespace camsteer {

// An xkb keymap (text format v1) in which each bound key's evdev code gives its keysym: the
// default layout when it does, else the US layout; empty with `why` set when libxkbcommon
// cannot make one that does.
std::string steeringKeymap(const KeyBindings& bindings, std::string& why);

// Key output through a Wayland compositor: the virtual-keyboard protocol of wlroots
// compositors, or KDE Plasma's fake input. Keys go as evdev codes on a connection of its own.
// Sending never waits; a compositor that went away marks the backend dead (reported once on
// standard error), after which key() and flush() do nothing.
class WaylandKeyboard : public Keyboard {
  public:
    ~WaylandKeyboard() override;
    WaylandKeyboard(const WaylandKeyboard&) = delete;
    WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;

    void key(SteeringKey key, bool down) override;
    void flush() override;
    const char* name() const override { return name_; }
    bool reachable() override;

    bool connectionLost() const { return lost_; }

  protected:
    WaylandKeyboard(std::unique_ptr<WaylandConnection> connection, const char* name,
                    const KeyBindings& bindings);
    // Queues one evdev key event on the protocol object.
    virtual void send(int evdevCode, bool down) = 0;
    WaylandConnection& connection() { return *connection_; }

  private:
    std::unique_ptr<WaylandConnection> connection_;
    const char* name_;
    std::array<int, kSteeringKeyCount> codes_;  // evdev, per steering key
    bool lost_ = false;
};

// Opens a virtual keyboard on the session's Wayland compositor with steeringKeymap(),
// and keeps it for its whole life: a seat that gains its first keyboard tells clients late, so
// a key sent right after creation can be lost. On failure returns nullptr and sets `why`.
std::unique_ptr<WaylandKeyboard> openVirtualKeyboard(const DesktopSession& session,
                                                     const KeyBindings& bindings, std::string& why);

// Opens KDE Plasma's fake input (org_kde_kwin_fake_input, version 4 or later) on the session's
// Wayland compositor and authenticates. KWin offers it only to programs whose desktop
// entry lists it, and does not release a key of a client that dies. On failure returns nullptr
// and sets `why`.
std::unique_ptr<WaylandKeyboard> openFakeInputKeyboard(const DesktopSession& session,
                                                       const KeyBindings& bindings,
                                                       std::string& why);

}  // namespace camsteer
