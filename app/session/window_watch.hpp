#pragma once

#include <string>
#include <utility>
#include <vector>

struct xcb_connection_t;

namespace camsteer {

// Tells when another X client destroys a window of this process (xdotool windowclose, a
// window manager's "kill"). The window toolkit is not told: its window would be gone from the
// screen while the run went on unseen, keys held. Also tells whether one of this process's
// windows has the keyboard focus: keys sent then would land in the program itself. Watches on
// a connection of its own (XCB, whose errors come back as replies, so no process-wide X error
// handler is involved).
class WindowWatch {
  public:
    // Watches on the X display `x11Display` (DISPLAY's value; "" when there is none).
    explicit WindowWatch(std::string x11Display) : display_(std::move(x11Display)) {}
    ~WindowWatch();
    WindowWatch(const WindowWatch&) = delete;
    WindowWatch& operator=(const WindowWatch&) = delete;

    // Starts watching this process's top-level window titled `title` on the X display, and the
    // focus on every top-level window of this process. False when there is no
    // X display or no such window yet; nothing is watched then.
    bool watch(const std::string& title);
    // The connection's descriptor, readable when events arrived; -1 while not watching.
    int fd() const;
    // Takes the events that arrived, without waiting.
    void takeEvents();
    // True once the window is gone.
    bool destroyed() const { return destroyed_; }
    // Whether a window of this process has the keyboard focus, as of the latest events taken.
    bool focused() const { return focused_; }

  private:
    bool focusIsOurs();

    std::string display_;
    xcb_connection_t* connection_ = nullptr;
    unsigned window_ = 0;
    std::vector<unsigned> ours_;  // this process's top-level windows, the main one among them
    bool destroyed_ = false;
    bool focused_ = false;
};

}  // namespace camsteer
