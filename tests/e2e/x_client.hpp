#pragma once

// The suite's own connection to a test's X server: it finds the programs' windows, tells where
// they are, and acts as the user and the window manager would (keys and pointer through XTest,
// the close message). Pictures of the screen are in screen.hpp, key state in keys.hpp.

#include <algorithm>
#include <optional>
#include <string>

// Xlib's macros (None, Bool, Status, Complex, ...) break GoogleTest and OpenCV headers that
// come after them, so these are always in first.
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "process.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace camsteer::e2e {

// Protocol errors of the suite's own requests (focusing a window that just went away, say)
// must not end the test binary, which Xlib's default handler would do.
inline int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

// Where a window is on the screen.
struct Geometry {
    int x = 0;  // root coordinates of the top-left corner of the inside
    int y = 0;
    int width = 0;
    int height = 0;
};

// A connection of the suite to the test's X server.
class XClient {
  public:
    explicit XClient(const std::string& display) {
        XSetErrorHandler(ignoreXError);
        display_ = XOpenDisplay(display.c_str());
    }
    ~XClient() { close(); }
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool ok() const { return display_ != nullptr; }
    Display* display() const { return display_; }
    // Must be called before the server goes away: Xlib ends the process on a broken connection.
    void close() {
        if (display_ != nullptr) {
            XCloseDisplay(display_);
            display_ = nullptr;
        }
    }

    // A viewable top-level window whose WM_NAME is `name`, if there is one now.
    std::optional<Window> window(const std::string& name) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        std::optional<Window> found;
        if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count) ==
            0) {
            return found;
        }
        for (unsigned i = 0; i < count && !found; ++i) {
            char* windowName = nullptr;
            if (XFetchName(display_, children[i], &windowName) != 0 && windowName != nullptr) {
                XWindowAttributes attributes{};
                if (name == windowName &&
                    XGetWindowAttributes(display_, children[i], &attributes) != 0 &&
                    attributes.map_state == IsViewable) {
                    found = children[i];
                }
                XFree(windowName);
            }
        }
        if (children != nullptr) {
            XFree(children);
        }
        return found;
    }
    // Starts noting the windows created at the top level from now on.
    void watchTopLevels() {
        XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
        XSync(display_, False);
    }
    // How many top-level windows were created since watchTopLevels().
    int topLevelsCreated() {
        XSync(display_, False);
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == CreateNotify) {
                ++created_;
            }
        }
        return created_;
    }

    std::optional<Window> waitForWindow(const std::string& name, Clock::duration bound) {
        std::optional<Window> found;
        pollUntil([&] { return (found = window(name)).has_value(); }, bound);
        return found;
    }

    Geometry geometry(Window window) {
        XWindowAttributes attributes{};
        Geometry g;
        if (XGetWindowAttributes(display_, window, &attributes) == 0) {
            return g;
        }
        Window child = 0;
        XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &g.x, &g.y,
                              &child);
        g.width = attributes.width;
        g.height = attributes.height;
        return g;
    }

    // Gives `window` the input focus and types `keysym` there through XTest, as a user would.
    void typeInto(Window window, KeySym keysym) {
        XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
        XSync(display_, False);
        const KeyCode code = XKeysymToKeycode(display_, keysym);
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        XSync(display_, False);
    }

    // Presses the first pointer button at `from`, moves to `to` in a few steps and releases it
    // there, through XTest, as a hand on the mouse would (window coordinates of `window`).
    void drag(Window window, cv::Point from, cv::Point to) {
        const Geometry g = geometry(window);
        const int screen = DefaultScreen(display_);
        XTestFakeMotionEvent(display_, screen, g.x + from.x, g.y + from.y, CurrentTime);
        XTestFakeButtonEvent(display_, Button1, True, CurrentTime);
        constexpr int kSteps = 8;
        for (int i = 1; i <= kSteps; ++i) {
            XTestFakeMotionEvent(display_, screen, g.x + from.x + (to.x - from.x) * i / kSteps,
                                 g.y + from.y + (to.y - from.y) * i / kSteps, CurrentTime);
        }
        XTestFakeButtonEvent(display_, Button1, False, CurrentTime);
        XSync(display_, False);
    }

    // Whether `window` lists `protocol` (WM_DELETE_WINDOW, say) in its WM_PROTOCOLS.
    bool takesPart(Window window, const char* protocol) {
        const Atom wanted = XInternAtom(display_, protocol, False);
        Atom* protocols = nullptr;
        int count = 0;
        bool found = false;
        if (XGetWMProtocols(display_, window, &protocols, &count) != 0) {
            found = std::find(protocols, protocols + count, wanted) != protocols + count;
            XFree(protocols);
        }
        return found;
    }

    // What a window manager sends when the user closes `window` with its close button: a
    // WM_PROTOCOLS client message naming WM_DELETE_WINDOW.
    void requestClose(Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, window, False, NoEventMask, &event);
        XSync(display_, False);
    }

  private:
    Display* display_ = nullptr;
    int created_ = 0;
};

}  // namespace camsteer::e2e
