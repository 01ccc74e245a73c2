#pragma once

#include <string>

struct xcb_connection_t;

namespace camsteer {

// Tells when another X client destroys a window of this process (xdotool windowclose, a
// window manager's "kill"). The window toolkit is not told: its window would be gone from the
// screen while the run went on unseen, keys held. Watches on a connection of its own (XCB,
// whose errors come back as replies, so no process-wide X error handler is involved).
class WindowWatch {
  public:
    WindowWatch() = default;
    ~WindowWatch();
    WindowWatch(const WindowWatch&) = delete;
    WindowWatch& operator=(const WindowWatch&) = delete;

    // Starts watching this process's top-level window titled `title` on the X display named by
    // DISPLAY. False when there is no X display or no such window yet; nothing is watched then.
    bool watch(const std::string& title);
    // The connection's descriptor, readable when events arrived; -1 while not watching.
    int fd() const;
    // Takes the events that arrived without waiting; true once the window is gone.
    bool destroyed();

  private:
    xcb_connection_t* connection_ = nullptr;
    unsigned window_ = 0;
    bool destroyed_ = false;
};

}  // namespace camsteer
