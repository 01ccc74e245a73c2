#pragma once

#include <array>
#include <memory>
#include <string>

#include "platform/keys/keyboard.hpp"

struct _XDisplay;  // Xlib's Display; kept out of this header so X macros do not leak

namespace camsteer {

struct XTestConnectionState;

// Key output through the XTEST extension on a connection of its own, so the window toolkit's
// connection is never touched from the capture thread.
//
// X errors never end the process: protocol errors on this connection are counted and
// ignored; losing the connection (the X server went away) marks the backend dead, after which
// key() and flush() do nothing.
class XTestKeyboard final : public Keyboard {
  public:
    ~XTestKeyboard() override;  // closes the connection
    XTestKeyboard(const XTestKeyboard&) = delete;
    XTestKeyboard& operator=(const XTestKeyboard&) = delete;

    void key(SteeringKey key, bool down) override;
    void flush() override;
    const char* name() const override { return "XTest"; }
    // The X server keeps an XTest key down after its client is gone.
    std::string watchdogBackend() const override { return name(); }
    bool reachable() override;

    // True once the connection to the X server was lost.
    bool connectionLost() const;
    // Number of X protocol errors reported on this connection.
    unsigned long protocolErrors() const;
    // The connection itself, for tests and diagnostics.
    _XDisplay* display() const { return display_; }

  private:
    friend std::unique_ptr<XTestKeyboard> openXTestKeyboard(const DesktopSession& session,
                                                            const KeyBindings& bindings,
                                                            std::string& why);
    XTestKeyboard(_XDisplay* display, std::unique_ptr<XTestConnectionState> state,
                  const std::array<unsigned char, kSteeringKeyCount>& keycodes);

    _XDisplay* display_;
    std::unique_ptr<XTestConnectionState> state_;
    std::array<unsigned char, kSteeringKeyCount> keycodes_;  // per steering key; 0: not sendable
};

// Opens its own connection to the session's X display and checks for XTEST; each steering
// key sends the key of the server's keyboard map that has its bound keysym. On failure returns
// nullptr and sets `why` to what failed and how to fix it. A bound key missing from the map is
// skipped and reported once on standard error.
std::unique_ptr<XTestKeyboard> openXTestKeyboard(const DesktopSession& session,
                                                 const KeyBindings& bindings, std::string& why);

}  // namespace camsteer
