#pragma once

// Which keys reach the X server and the steered application: the server's key map read with
// XQueryKeymap (what is held down, whoever sent it; keep a connection open so that the server
// does not reset when the program's goes away), and a window of the suite that records the key
// events it receives.

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "x_client.hpp"

namespace camsteer::e2e {

// The steering keys by keysym name: the arrows, then keypad plus and minus.
const std::vector<std::string> kSteeringKeysyms = {"Up",    "Down",   "Left",
                                                   "Right", "KP_Add", "KP_Subtract"};

// Those of `keysyms` (names such as "Up") that the server holds down now.
inline std::vector<std::string> keysDown(XClient& x, const std::vector<std::string>& keysyms) {
    char keys[32] = {};
    XQueryKeymap(x.display(), keys);
    std::vector<std::string> down;
    for (const std::string& name : keysyms) {
        const KeyCode code = XKeysymToKeycode(x.display(), XStringToKeysym(name.c_str()));
        if (code != 0 && (keys[code / 8] & (1 << (code % 8))) != 0) {
            down.push_back(name);
        }
    }
    return down;
}

// The steering keys the server holds down now.
inline std::vector<std::string> steeringKeysDown(XClient& x) {
    return keysDown(x, kSteeringKeysyms);
}

// A window of the suite that holds the input focus and records the key events reaching it,
// standing in for the application camsteer steers.
class KeyRecorder {
  public:
    struct KeyEvent {
        bool press;
        std::string keysym;
    };

    explicit KeyRecorder(const std::string& display) : client_(display) {
        if (!client_.ok()) {
            return;
        }
        Display* d = client_.display();
        // Away from the program's windows, so it never covers them in a screenshot.
        window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 800, 600, 100, 100, 0, 0, 0);
        XStoreName(d, window_, "camsteer-e2e-recorder");
        XSelectInput(d, window_, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
        XMapWindow(d, window_);
        XEvent event;
        do {  // focusing an unmapped window is an error
            XWindowEvent(d, window_, StructureNotifyMask, &event);
        } while (event.type != MapNotify);
        // No server repeats: every event recorded was sent by the program.
        XAutoRepeatOff(d);
        XSync(d, False);
    }

    bool ok() const { return client_.ok(); }
    XClient& client() { return client_; }

    void takeFocus() {
        XSetInputFocus(client_.display(), window_, RevertToPointerRoot, CurrentTime);
        XSync(client_.display(), False);
    }
    bool hasFocus() {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(client_.display(), &focus, &revert);
        return focus == window_;
    }

    // Reads what has arrived so far.
    void pump() {
        Display* d = client_.display();
        while (XPending(d) > 0) {
            XEvent event;
            XNextEvent(d, &event);
            if (event.type == KeyPress || event.type == KeyRelease) {
                const char* name = XKeysymToString(XLookupKeysym(&event.xkey, 0));
                events_.push_back({event.type == KeyPress, name != nullptr ? name : "?"});
            }
        }
    }
    // Reads events until `done` holds for the record, or `bound` has passed.
    bool waitFor(const std::function<bool(const std::vector<KeyEvent>&)>& done,
                 Clock::duration bound) {
        return pollUntil(
            [&] {
                pump();
                return done(events_);
            },
            bound, 20ms);
    }

    const std::vector<KeyEvent>& events() const { return events_; }
    bool received(bool press, const std::string& keysym) const {
        return std::any_of(events_.begin(), events_.end(), [&](const KeyEvent& e) {
            return e.press == press && e.keysym == keysym;
        });
    }
    // The keys pressed and not released since, in the record.
    std::vector<std::string> held() const {
        std::vector<std::string> down;
        for (const KeyEvent& e : events_) {
            const auto at = std::find(down.begin(), down.end(), e.keysym);
            if (e.press && at == down.end()) {
                down.push_back(e.keysym);
            } else if (!e.press && at != down.end()) {
                down.erase(at);
            }
        }
        return down;
    }
    std::string describe() const {
        std::string text;
        for (const KeyEvent& e : events_) {
            text += (e.press ? "+" : "-") + e.keysym + " ";
        }
        return text.empty() ? "(none)" : text;
    }

  private:
    XClient client_;
    Window window_ = 0;
    std::vector<KeyEvent> events_;
};

}  // namespace camsteer::e2e
