#include "platform/keys/keyboard_xtest.hpp"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/process/program_name.hpp"
#include "platform/process/sigpipe_block.hpp"

namespace camsteer {

// Per-connection state the X error handlers reach: they are called from inside Xlib, so it
// lives apart from the keyboard object and only holds atomics.
struct XTestConnectionState {
    std::atomic<bool> lost{false};
    std::atomic<bool> reportedLoss{false};
    std::atomic<unsigned long> protocolErrors{0};
    std::string displayName;
};

namespace {

// Xlib's error handlers are global to the process while our connections are not: the
// handlers look the display up here and pass every other display on to the handler that was
// installed before ours (the window toolkit's, or Xlib's default).
std::mutex gRegistryMutex;
std::vector<std::pair<Display*, XTestConnectionState*>> gRegistry;
std::atomic<XErrorHandler> gPreviousErrorHandler{nullptr};
std::atomic<XIOErrorHandler> gPreviousIOErrorHandler{nullptr};
// Xlib's own I/O error handler, which writes two lines without our name.
std::atomic<XIOErrorHandler> gXlibIOErrorHandler{nullptr};

XTestConnectionState* findState(Display* display) {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    for (const auto& entry : gRegistry) {
        if (entry.first == display) {
            return entry.second;
        }
    }
    return nullptr;
}

void registerConnection(Display* display, XTestConnectionState* state) {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    gRegistry.emplace_back(display, state);
}

void unregisterConnection(Display* display) {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    gRegistry.erase(std::remove_if(gRegistry.begin(), gRegistry.end(),
                                   [display](const auto& entry) { return entry.first == display; }),
                    gRegistry.end());
}

int onXError(Display* display, XErrorEvent* error) {
    if (XTestConnectionState* state = findState(display)) {
        // Must not issue requests here; counting is all. Report only the first one.
        if (state->protocolErrors.fetch_add(1) == 0) {
            std::fprintf(stderr,
                         "%s: the X server rejected a key request (error %d, request %d.%d); "
                         "ignoring it and going on\n",
                         programName(), error->error_code, error->request_code, error->minor_code);
        }
        return 0;
    }
    XErrorHandler previous = gPreviousErrorHandler.load();
    return previous != nullptr && previous != onXError ? previous(display, error) : 0;
}

int onXIOError(Display* display) {
    if (XTestConnectionState* state = findState(display)) {
        // Returning hands over to the display's exit handler, ours (onXIOErrorExit).
        state->lost = true;
        return 0;
    }
    // Another library's connection (the window toolkit's, which says so itself): a handler of
    // its own is called; Xlib's own would only add its two lines, here or during the exit that
    // follows (seen with Qt on Debian 13 when the server was killed).
    XIOErrorHandler previous = gPreviousIOErrorHandler.load();
    return previous != nullptr && previous != onXIOError && previous != gXlibIOErrorHandler.load()
               ? previous(display)
               : 0;
}

// Called by Xlib after the I/O error handler returned, in place of its default exit handler,
// which calls exit(). This handler may return (libX11 >= 1.7): the display then stays marked
// broken (XlibDisplayIOError), Xlib sends nothing more on it, and XCloseDisplay only frees
// it. So the loss is recorded and the handler returns; key() and flush() then leave the
// connection alone. Leaving by longjmp instead would abandon Xlib in the middle of a call,
// with its internal state and display lock not restored, and skip C++ destructors.
void onXIOErrorExit(Display* /*display*/, void* userData) {
    auto* state = static_cast<XTestConnectionState*>(userData);
    state->lost = true;
    if (!state->reportedLoss.exchange(true)) {
        std::fprintf(stderr,
                     "%s: lost the connection to X display '%s'; keys are no longer sent: "
                     "restart %s once the X session is back\n",
                     programName(), state->displayName.c_str(), programName());
    }
}

// (Re)installs our process-wide handlers; a toolkit opening its display after us may have
// replaced them. Cheap: Xlib only swaps a pointer under its global lock.
void installHandlers() {
    XErrorHandler oldError = XSetErrorHandler(onXError);
    if (oldError != onXError) {
        gPreviousErrorHandler = oldError;
    }
    XIOErrorHandler oldIOError = XSetIOErrorHandler(onXIOError);
    if (oldIOError != onXIOError) {
        gPreviousIOErrorHandler = oldIOError;
    }
    if (gXlibIOErrorHandler.load() == nullptr) {
        // Setting none puts Xlib's own in place, and setting ours again returns it.
        gXlibIOErrorHandler = XSetIOErrorHandler(XSetIOErrorHandler(nullptr));
    }
}

}  // namespace

XTestKeyboard::XTestKeyboard(Display* display, std::unique_ptr<XTestConnectionState> state,
                             const std::array<unsigned char, kSteeringKeyCount>& keycodes)
    : display_(display), state_(std::move(state)), keycodes_(keycodes) {}

XTestKeyboard::~XTestKeyboard() {
    {
        SigpipeBlock noSigpipe;
        installHandlers();
        XCloseDisplay(display_);
    }
    unregisterConnection(display_);
}

bool XTestKeyboard::connectionLost() const {
    return state_->lost;
}

unsigned long XTestKeyboard::protocolErrors() const {
    return state_->protocolErrors;
}

void XTestKeyboard::key(SteeringKey key, bool down) {
    if (state_->lost || keycodes_[key] == 0) {
        return;
    }
    // Usually only queued in Xlib's buffer; a full buffer is written out.
    SigpipeBlock noSigpipe;
    XTestFakeKeyEvent(display_, keycodes_[key], down ? True : False, CurrentTime);
}

void XTestKeyboard::flush() {
    if (state_->lost) {
        return;
    }
    SigpipeBlock noSigpipe;
    installHandlers();
    XFlush(display_);
}

bool XTestKeyboard::reachable() {
    if (!state_->lost) {
        SigpipeBlock noSigpipe;
        installHandlers();
        XSync(display_, False);
    }
    return !state_->lost;
}

std::unique_ptr<XTestKeyboard> openXTestKeyboard(const DesktopSession& session,
                                                 const KeyBindings& bindings, std::string& why) {
    // Must come before any other Xlib call when this process uses Xlib from several threads
    // (the capture thread here, the toolkit on the main thread). libX11 >= 1.8 already does
    // it when loaded, and calling it again is harmless.
    XInitThreads();
    installHandlers();

    const std::string& name = session.x11Display;
    if (name.empty()) {
        why = "DISPLAY is not set; start camsteer from within the X session";
        return nullptr;
    }
    SigpipeBlock noSigpipe;
    Display* display = XOpenDisplay(name.c_str());
    if (display == nullptr) {
        why = "cannot open X display '" + name +
              "'; check that DISPLAY names the running X session and that you may connect "
              "to it (xdpyinfo tells)";
        return nullptr;
    }
    auto state = std::make_unique<XTestConnectionState>();
    state->displayName = name;
    registerConnection(display, state.get());
    XSetIOErrorExitHandler(display, onXIOErrorExit, state.get());

    auto fail = [&](const std::string& what) {
        XCloseDisplay(display);
        unregisterConnection(display);
        why = what;
        return nullptr;
    };
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        return fail("the X server on '" + name +
                    "' lacks the XTEST extension; enable XTEST in the X server configuration "
                    "or set up uinput instead");
    }

    std::array<unsigned char, kSteeringKeyCount> keycodes{};
    std::string missing;
    for (int k = 0; k < kSteeringKeyCount; ++k) {
        const KeyName& bound = bindings[static_cast<SteeringKey>(k)];
        keycodes[k] = XKeysymToKeycode(display, bound.keysym);
        if (keycodes[k] == 0) {
            missing += missing.empty() ? "" : ", ";
            missing += bound.name;
        }
    }
    if (state->lost) {
        return fail("the connection to X display '" + name +
                    "' was lost while setting up; check that the X server is running");
    }
    if (std::all_of(keycodes.begin(), keycodes.end(), [](unsigned char c) { return c == 0; })) {
        return fail("the keyboard map of X display '" + name +
                    "' has none of the steering keys; restore a standard keyboard layout "
                    "(setxkbmap us)");
    }
    if (!missing.empty()) {
        std::fprintf(stderr,
                     "%s: the keyboard map of X display '%s' has no key for %s; that key is not "
                     "sent (add it to the layout, e.g. with xmodmap)\n",
                     programName(), name.c_str(), missing.c_str());
    }
    return std::unique_ptr<XTestKeyboard>(new XTestKeyboard(display, std::move(state), keycodes));
}

}  // namespace camsteer
