#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/keys/held_keys.hpp"
#include "platform/keys/key_watchdog.hpp"
#include "platform/keys/keyboard.hpp"
#include "platform/keys/keyboard_uinput.hpp"
#include "platform/keys/keyboard_wayland.hpp"
#include "platform/keys/keyboard_xtest.hpp"
#include "platform/keys/portal_token.hpp"
#include "tests/common/env_override.hpp"
#include "tests/common/xvfb.hpp"
#include "tests/unit/test_support.hpp"

// Last: Xlib's macros (None, Bool, Status, ...) must not meet the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace camsteer {
namespace {

using test::EnvOverride;
using test::Xvfb;

// The X server of these tests. -noreset: by default the server resets when its last client
// leaves and refuses new connections meanwhile, which would fail a test that reconnects.
constexpr const char* kXvfbScreen = "640x480x24";
const std::vector<std::string> kXvfbArgs = {"-noreset"};

constexpr auto kEventBound = std::chrono::seconds(5);  // generous; not a timing check

struct Event {
    int type;
    int code;
    int value;
    bool operator==(const Event& o) const {
        return type == o.type && code == o.code && value == o.value;
    }
};
std::ostream& operator<<(std::ostream& os, const Event& e) {
    return os << "{" << e.type << "," << e.code << "," << e.value << "}";
}
const Event kSyn{EV_SYN, SYN_REPORT, 0};

// A pipe whose read end does not block, standing in for the uinput device.
class EventPipe {
  public:
    EventPipe() { EXPECT_EQ(pipe2(fds_, O_NONBLOCK | O_CLOEXEC), 0); }
    ~EventPipe() {
        close(fds_[0]);
        close(fds_[1]);
    }
    int writeEnd() const { return fds_[1]; }
    int readEnd() const { return fds_[0]; }
    std::vector<Event> drain() const {
        std::vector<Event> events;
        input_event raw{};
        while (read(fds_[0], &raw, sizeof raw) == static_cast<ssize_t>(sizeof raw)) {
            events.push_back({raw.type, raw.code, raw.value});
        }
        return events;
    }

  private:
    int fds_[2] = {-1, -1};
};

TEST(UinputEventWriter, WritesOneFrameThenOneSynReport) {
    EventPipe pipe;
    UinputEventWriter writer(pipe.writeEnd());
    const std::vector<std::pair<int, bool>> frame = {{KEY_UP, true},     {KEY_DOWN, false},
                                                     {KEY_LEFT, true},   {KEY_RIGHT, false},
                                                     {KEY_KPPLUS, true}, {KEY_KPPLUS, true}};
    for (const auto& [code, down] : frame) {
        writer.key(code, down);
    }
    EXPECT_TRUE(pipe.drain().empty()) << "key() only queues";
    EXPECT_TRUE(writer.flush());
    // Written as asked: a second press stays a press (value 1, never the repeat value 2).
    const std::vector<Event> expected = {{EV_KEY, KEY_UP, 1},
                                         {EV_KEY, KEY_DOWN, 0},
                                         {EV_KEY, KEY_LEFT, 1},
                                         {EV_KEY, KEY_RIGHT, 0},
                                         {EV_KEY, KEY_KPPLUS, 1},
                                         {EV_KEY, KEY_KPPLUS, 1},
                                         kSyn};
    EXPECT_EQ(pipe.drain(), expected);
    EXPECT_TRUE(writer.flush());
    EXPECT_TRUE(pipe.drain().empty()) << "a flush with nothing queued writes nothing";
}

TEST(UinputEventWriter, ReportsAFailedWriteAndDropsTheQueue) {
    EventPipe pipe;
    UinputEventWriter writer(pipe.readEnd());  // not writable: EBADF
    writer.key(KEY_UP, true);
    EXPECT_FALSE(writer.flush());
    EXPECT_EQ(writer.lastError(), EBADF);
    EXPECT_EQ(writer.queued(), 0u);
}

TEST(UinputKeyboard, ReleaseAllWritesSixReleasesAndOneSyn) {
    EventPipe pipe;
    UinputKeyboard keyboard(pipe.writeEnd());
    keyboard.releaseAll();
    const std::vector<Event> expected = {{EV_KEY, KEY_UP, 0},
                                         {EV_KEY, KEY_DOWN, 0},
                                         {EV_KEY, KEY_LEFT, 0},
                                         {EV_KEY, KEY_RIGHT, 0},
                                         {EV_KEY, KEY_KPPLUS, 0},
                                         {EV_KEY, KEY_KPMINUS, 0},
                                         kSyn};
    EXPECT_EQ(pipe.drain(), expected);
}

// The keys each steering key sends, by default and bound otherwise: the keymap the virtual
// keyboard uploads gives each bound evdev code (xkb keycode = evdev + 8) its keysym, and uinput
// writes that code.
TEST(KeyMapping, TheBoundKeysAreInTheKeymapAndWrittenByUinput) {
    struct Case {
        const char* keys;
        std::vector<int> evdev;  // per steering key
    };
    const Case cases[] = {
        {"", {KEY_UP, KEY_DOWN, KEY_LEFT, KEY_RIGHT, KEY_KPPLUS, KEY_KPMINUS}},
        {"up=w,left=a,down=s,right=d,forward=space,back=Next",
         {KEY_W, KEY_S, KEY_A, KEY_D, KEY_SPACE, KEY_PAGEDOWN}},
    };
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        KeyBindings bindings;
        std::string why;
        ASSERT_TRUE(*c.keys == '\0' || parseKeyBindings(c.keys, bindings, why)) << why;
        const std::string keymapText = steeringKeymap(bindings, why);
        xkb_keymap* keymap = xkb_keymap_new_from_string(
            context, keymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        ASSERT_NE(keymap, nullptr) << why;
        for (int k = 0; k < kSteeringKeyCount; ++k) {
            const KeyName& bound = bindings[static_cast<SteeringKey>(k)];
            EXPECT_EQ(bound.evdev, c.evdev[k]) << bound.name;
            const xkb_keysym_t* syms = nullptr;
            ASSERT_EQ(xkb_keymap_key_get_syms_by_level(keymap, bound.evdev + 8u, 0, 0, &syms), 1);
            EXPECT_EQ(syms[0], bound.keysym) << bound.name;
            EventPipe pipe;
            UinputKeyboard keyboard(pipe.writeEnd(), bindings);
            keyboard.key(static_cast<SteeringKey>(k), true);
            keyboard.flush();
            EXPECT_EQ(pipe.drain(), (std::vector<Event>{{EV_KEY, c.evdev[k], 1}, kSyn}));
        }
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
}

TEST(UinputKeyboard, FailureReasonsSayWhatFailedAndTheFix) {
    const std::pair<int, const char*> cases[] = {
        {ENOENT, "modprobe uinput"},
        {EACCES, "60-camsteer-uinput.rules"},
        {EPERM, "60-camsteer-uinput.rules"},
        {EIO, "dmesg"},
    };
    for (const auto& [error, fix] : cases) {
        const std::string reason = uinputFailureReason(error);
        EXPECT_NE(reason.find("/dev/uinput"), std::string::npos) << reason;
        EXPECT_NE(reason.find(std::strerror(error)), std::string::npos) << reason;
        EXPECT_NE(reason.find(fix), std::string::npos) << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    }
}

std::optional<Event> nextEvdevEvent(libevdev* device) {
    const auto deadline = std::chrono::steady_clock::now() + kEventBound;
    while (std::chrono::steady_clock::now() < deadline) {
        input_event raw{};
        if (libevdev_next_event(device, LIBEVDEV_READ_FLAG_NORMAL, &raw) ==
            LIBEVDEV_READ_STATUS_SUCCESS) {
            return Event{raw.type, raw.code, raw.value};
        }
        pollfd pfd{libevdev_get_fd(device), POLLIN, 0};
        poll(&pfd, 1, 100);
    }
    return std::nullopt;
}

TEST(UinputKeyboard, CreatesTheDeviceAndItsKeysArrive) {
    if (access("/dev/uinput", W_OK) != 0) {
        GTEST_SKIP() << "/dev/uinput is not usable here: " << std::strerror(errno);
    }
    std::string reason;
    auto keyboard = openUinputKeyboard(KeyBindings(), reason);
    ASSERT_NE(keyboard, nullptr) << reason;
    ASSERT_FALSE(keyboard->devnode().empty());
    EXPECT_EQ(keyboard->watchdogBackend(), "") << "the kernel removes the device with the process";
    const int fd = open(keyboard->devnode().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << keyboard->devnode() << ": " << std::strerror(errno);
    libevdev* device = nullptr;
    ASSERT_EQ(libevdev_new_from_fd(fd, &device), 0);
    EXPECT_STREQ(libevdev_get_name(device), kUinputDeviceName);
    for (int code : {KEY_UP, KEY_DOWN, KEY_LEFT, KEY_RIGHT, KEY_KPPLUS, KEY_KPMINUS}) {
        EXPECT_TRUE(libevdev_has_event_code(device, EV_KEY, code)) << code;
    }
    EXPECT_FALSE(libevdev_has_event_code(device, EV_KEY, KEY_A));
    EXPECT_FALSE(libevdev_has_event_type(device, EV_REP));

    keyboard->key(kSteerUp, true);
    keyboard->flush();
    keyboard->releaseAll();  // the kernel passes on only the release of the key down
    const std::vector<Event> expected = {{EV_KEY, KEY_UP, 1}, kSyn, {EV_KEY, KEY_UP, 0}, kSyn};
    for (const Event& want : expected) {
        const std::optional<Event> got = nextEvdevEvent(device);
        ASSERT_TRUE(got.has_value()) << "no event within the bound; expected " << want;
        EXPECT_EQ(*got, want);
    }
    libevdev_free(device);
    close(fd);
}

// The session's kind, and the backends tried for it: what the session hints at first, then the
// rest; XTest only with an X display, the Wayland ones only with a Wayland display. Letters: X
// XTest, U uinput, V virtual keyboard, F fake input, P the remote-desktop portal.
TEST(SessionKind, ClassifiesAndOrdersTheBackends) {
    struct Case {
        const char* display;  // "": not set
        const char* wayland;
        const char* sessionType;
        SessionKind expected;
        const char* order;
    };
    const Case cases[] = {
        {":0", "", "", SessionKind::kX11, "XU"},
        {":0", "wayland-0", "", SessionKind::kWayland, "VFUPX"},  // Xwayland's DISPLAY
        {"", "wayland-0", "", SessionKind::kWayland, "VFUP"},
        {":0", "wayland-0", "x11", SessionKind::kX11, "XUVF"},
        {":0", "", "wayland", SessionKind::kWayland, "UPX"},
        {"", "wayland-0", "x11", SessionKind::kX11, "UVF"},
        {":0", "", "tty", SessionKind::kX11, "XU"},
        {"", "", "", SessionKind::kNone, "U"},
        {"", "", "tty", SessionKind::kNone, "U"},
    };
    for (const Case& c : cases) {
        DesktopSession session;
        session.x11Display = c.display;
        session.waylandDisplay = c.wayland;
        session.sessionType = c.sessionType;
        SCOPED_TRACE(std::string(c.display) + " " + c.wayland + " " + c.sessionType);
        EXPECT_EQ(session.kind(), c.expected);
        std::string order;
        for (KeyBackend backend : keyBackendOrder(session)) {
            order += "XUVFP"[static_cast<int>(backend)];
        }
        EXPECT_EQ(order, c.order);
    }
}

// Steering keys as letters, in steering order: Up, Down, Left, Right, Forward (+), Back (-).
constexpr char kKeyLetters[] = "UDLRFB";

KeySet statesOf(const std::string& letters) {
    KeySet states;
    for (char letter : letters) {
        states.set(static_cast<SteeringKey>(std::string(kKeyLetters).find(letter)));
    }
    return states;
}

// The recorded key events as "+U-L" (press Up, release Left), then "|" per flush.
std::string keyTrace(const testing::RecordingKeyboard& keyboard) {
    std::string trace;
    for (const auto& [virtualKey, down] : keyboard.events) {
        trace += std::string(down ? "+" : "-") + kKeyLetters[virtualKey];
    }
    return trace + std::string(static_cast<size_t>(keyboard.flushes), '|');
}

// Frame after frame the tracker asks for a key state; what reaches the backend is the change:
// a press when a key becomes wanted, a release when it no longer is, releases before presses,
// one flush per frame that changed something and none otherwise. "*" stands for releaseAll(),
// "pause" and "resume" for the calls of a stopping and continued process, "focus" and "unfocus"
// for the program's own window taking and losing the keyboard focus.
TEST(HeldKeys, PassesOnOnlyTheChanges) {
    struct Case {
        const char* what;
        std::vector<std::string> frames;
        std::vector<std::string> sent;  // per frame: the events, then "|" if flushed
        std::string mirror;             // the mirror's bytes as held-set letters, ',' apart
    };
    const Case cases[] = {
        {"corner held: pressed once, never released", {"UL", "UL", "UL"}, {"+U+L|", "", ""}, ",UL"},
        {"corner entered from above: Left is the later key",
         {"U", "UL", "UL"},
         {"+U|", "+L|", ""},
         ",U,UL"},
        {"leaving the corner", {"UL", "U", ""}, {"+U+L|", "-L|", "-U|"}, ",UL,U,"},
        {"jump across: release before press", {"L", "R"}, {"+L|", "-L+R|"}, ",L,LR,R"},
        {"near, far, neutral", {"F", "B", "", ""}, {"+F|", "-F+B|", "-B|", ""}, ",F,FB,B,"},
        {"near and far at once", {"FB", "FB"}, {"+F+B|", ""}, ",FB"},
        {"all six, then none", {"UDLRFB", ""}, {"+U+D+L+R+F+B|", "-U-D-L-R-F-B|"}, ",UDLRFB,"},
        {"releaseAll forgets: the next frame presses again",
         {"UL", "*", "UL"},
         {"+U+L|", "-U-L|", "+U+L|"},
         ",UL,,UL"},
        {"releaseAll with nothing down sends nothing", {"*", "", "*"}, {"", "", ""}, ",,"},
        {"paused: a press is neither sent nor counted, so no release follows it",
         {"U", "pause", "UL", "*", "", "resume"},
         {"+U|", "-U|", "", "", "", ""},
         ",U,,"},
        {"resumed: a key still wanted is pressed again",
         {"UL", "pause", "UL", "resume", "UL"},
         {"+U+L|", "-U-L|", "", "", "+U+L|"},
         ",UL,,UL"},
        {"held back for two reasons: keys go out again only when both are over",
         {"U", "focus", "pause", "resume", "U", "unfocus", "U"},
         {"+U|", "-U|", "", "", "", "", "+U|"},
         ",U,,,U"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto recorder = std::make_unique<testing::RecordingKeyboard>();
        testing::RecordingKeyboard& keyboard = *recorder;
        int mirror[2];
        ASSERT_EQ(pipe2(mirror, O_NONBLOCK | O_CLOEXEC), 0);
        {
            HeldKeys keys(std::move(recorder));
            keys.mirrorTo(mirror[1]);
            for (size_t i = 0; i < c.frames.size(); ++i) {
                keyboard.events.clear();
                keyboard.flushes = 0;
                const std::string& frame = c.frames[i];
                using Hold = HeldKeys::Hold;
                frame == "*"         ? keys.releaseAll()
                : frame == "pause"   ? keys.pause()
                : frame == "resume"  ? keys.resume()
                : frame == "focus"   ? keys.pause(Hold::kOwnWindowFocused)
                : frame == "unfocus" ? keys.resume(Hold::kOwnWindowFocused)
                                     : keys.want(statesOf(frame));
                EXPECT_EQ(keyTrace(keyboard), c.sent[i]) << "frame " << i;
            }
            keys.mirrorTo(-1);
        }
        std::string bytes;
        unsigned char byte = 0;
        for (int n = 0; read(mirror[0], &byte, 1) == 1; ++n) {
            bytes += n == 0 ? "" : ",";
            for (size_t i = 0; i < kSteeringKeyCount; ++i) {
                bytes += (byte >> i & 1u) != 0 ? std::string(1, kKeyLetters[i]) : "";
            }
        }
        EXPECT_EQ(bytes, c.mirror);
        close(mirror[0]);
        close(mirror[1]);
    }
}

// The mirror must never stall or end the process: a reader that stopped reading or is gone.
TEST(HeldKeys, AStuckOrGoneMirrorReaderIsIgnored) {
    HeldKeys keys(std::make_unique<testing::RecordingKeyboard>());
    int mirror[2];
    ASSERT_EQ(pipe2(mirror, O_CLOEXEC), 0);  // blocking, as a caller may hand it over
    keys.mirrorTo(mirror[1]);
    for (int i = 0; i < 100000; ++i) {  // more than the pipe holds
        keys.want(statesOf(i % 2 == 0 ? "U" : ""));
    }
    close(mirror[0]);
    keys.want(statesOf("L"));  // EPIPE, and SIGPIPE consumed
    EXPECT_EQ(keys.held(), 1u << 2);
    close(mirror[1]);
}

// releaseAll() from another thread while frames run: the backend sees a consistent stream (no
// press of a key that is down, no release of one that is up).
TEST(HeldKeysThreads, ReleaseAllFromAnotherThreadKeepsTheStreamConsistent) {
    auto recorder = std::make_unique<testing::RecordingKeyboard>();
    testing::RecordingKeyboard& keyboard = *recorder;
    HeldKeys keys(std::move(recorder));
    std::thread frames([&] {
        for (int i = 0; i < 20000; ++i) {
            keys.want(statesOf(i % 3 == 0 ? "UL" : "U"));
        }
    });
    for (int i = 0; i < 20000; ++i) {
        keys.releaseAll();
    }
    frames.join();
    keys.releaseAll();
    std::map<int, bool> down;
    for (const auto& [virtualKey, isDown] : keyboard.events) {
        ASSERT_NE(down[virtualKey], isDown) << "key " << virtualKey << " sent twice the same way";
        down[virtualKey] = isDown;
    }
    EXPECT_EQ(keys.held(), 0u);
}

// Where the portal's consent is kept, and that keeping it replaces the old one in one step,
// privately, and reads back only what could be a token.
TEST(RestoreToken, KeptPrivatelyReplacedAndReadBack) {
    DesktopSession session;
    EXPECT_EQ(restoreTokenPath(session), "");
    session.stateHome = "/s";
    EXPECT_EQ(restoreTokenPath(session), "/s/camsteer/portal-restore-token");

    char pattern[] = "/tmp/camsteer-token-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string path = std::string(pattern) + "/state/camsteer/portal-restore-token";
    std::string why;
    const auto mode = [](const std::string& file) {
        struct stat info {};
        return stat(file.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
    };
    // Each step: keep `token` (nullptr: write `text` as another program might), then read.
    struct Step {
        const char* token;
        const char* text;
        bool kept;
        const char* read;
    };
    const Step steps[] = {
        {"0f1e2d3c-aaaa", nullptr, true, "0f1e2d3c-aaaa"},
        {"second", nullptr, true, "second"},
        {"two words", nullptr, false, "second"},
        {nullptr, "two words\n", true, ""},
        {nullptr, "\n", true, ""},
        {"", nullptr, true, ""},  // no token: none is kept
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.token ? step.token : step.text);
        if (step.token != nullptr) {
            EXPECT_EQ(keepRestoreToken(path, step.token, why), step.kept) << why;
        } else {
            std::ofstream(path) << step.text;
        }
        EXPECT_EQ(readRestoreToken(path), step.read);
        if (step.token != nullptr && step.token[0] != '\0') {
            EXPECT_EQ(mode(path), 0600);
        }
    }
    EXPECT_EQ(mode(path), -1) << "an empty token leaves a file behind";
    EXPECT_TRUE(std::filesystem::is_empty(std::string(pattern) + "/state/camsteer"))
        << "a new file left behind";
    EXPECT_EQ(mode(std::string(pattern) + "/state/camsteer"), 0700);
    std::filesystem::remove_all(pattern);
}

// An X client window that has the input focus and reports key events.
class FocusedWindow {
  public:
    explicit FocusedWindow(const std::string& displayName) {
        display_ = XOpenDisplay(displayName.c_str());
        if (display_ == nullptr) {
            return;
        }
        window_ =
            XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 100, 100, 0, 0, 0);
        XSelectInput(display_, window_, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
        XMapWindow(display_, window_);
        XEvent event;
        do {  // focusing an unmapped window is an error
            XWindowEvent(display_, window_, StructureNotifyMask, &event);
        } while (event.type != MapNotify);
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        XAutoRepeatOff(display_);  // no server repeats of a key held while the test runs
        XSync(display_, False);
    }
    ~FocusedWindow() {
        if (display_ != nullptr) {
            XCloseDisplay(display_);
        }
    }
    bool ok() const { return display_ != nullptr; }

    // The next key event as (KeyPress or KeyRelease, keysym); nullopt after kEventBound.
    std::optional<std::pair<int, KeySym>> nextKey() {
        const auto deadline = std::chrono::steady_clock::now() + kEventBound;
        while (std::chrono::steady_clock::now() < deadline) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == KeyPress || event.type == KeyRelease) {
                    return std::make_pair(event.type, XLookupKeysym(&event.xkey, 0));
                }
            }
            pollfd pfd{ConnectionNumber(display_), POLLIN, 0};
            poll(&pfd, 1, 100);
        }
        return std::nullopt;
    }

  private:
    Display* display_ = nullptr;
    Window window_ = 0;
};

class XTestKeyboardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Xvfb::installed()) {
            GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh installs it)";
        }
        server_ = std::make_unique<Xvfb>(kXvfbScreen, kXvfbArgs);
        ASSERT_TRUE(server_->running()) << server_->error();
        env_ = std::make_unique<EnvOverride>(
            std::initializer_list<std::pair<const char*, const char*>>{
                {"DISPLAY", server_->display().c_str()},
                {"WAYLAND_DISPLAY", nullptr},
                {"XDG_SESSION_TYPE", nullptr}});
    }
    void TearDown() override {
        env_.reset();
        server_.reset();
    }
    void expectKeys(FocusedWindow& window, const std::vector<std::pair<int, KeySym>>& keys) {
        for (const auto& want : keys) {
            const auto got = window.nextKey();
            ASSERT_TRUE(got.has_value()) << "no key event; expected keysym " << want.second;
            EXPECT_EQ(got->first, want.first) << "keysym " << want.second;
            EXPECT_EQ(got->second, want.second);
        }
    }

    std::unique_ptr<Xvfb> server_;
    std::unique_ptr<EnvOverride> env_;
};

TEST_F(XTestKeyboardTest, PressesAndReleasesReachTheFocusedWindow) {
    FocusedWindow window(server_->display());
    ASSERT_TRUE(window.ok());
    std::string reason;
    auto keyboard = openXTestKeyboard(readDesktopSession(), KeyBindings(), reason);
    ASSERT_NE(keyboard, nullptr) << reason;
    keyboard->key(kSteerUp, true);
    keyboard->key(kSteerLeft, true);
    keyboard->flush();
    expectKeys(window, {{KeyPress, XK_Up}, {KeyPress, XK_Left}});
    keyboard->releaseAll();
    expectKeys(window, {{KeyRelease, XK_Up}, {KeyRelease, XK_Left}});
    // Every bound key has a key in the server's map and arrives as itself, by default and when
    // the user binds others.
    for (const char* keys : {"", "up=w,down=Shift_L,left=a,right=space,forward=Prior,back=F5"}) {
        KeyBindings bindings;
        std::string why;
        ASSERT_TRUE(*keys == '\0' || parseKeyBindings(keys, bindings, why)) << why;
        keyboard = openXTestKeyboard(readDesktopSession(), bindings, reason);
        ASSERT_NE(keyboard, nullptr) << reason;
        for (int k = 0; k < kSteeringKeyCount; ++k) {
            const auto key = static_cast<SteeringKey>(k);
            SCOPED_TRACE(bindings[key].name);
            keyboard->key(key, true);
            keyboard->key(key, false);
            keyboard->flush();
            expectKeys(window,
                       {{KeyPress, bindings[key].keysym}, {KeyRelease, bindings[key].keysym}});
        }
    }
}

TEST_F(XTestKeyboardTest, AProtocolErrorIsCountedNotFatal) {
    FocusedWindow window(server_->display());
    ASSERT_TRUE(window.ok());
    std::string reason;
    auto keyboard = openXTestKeyboard(readDesktopSession(), KeyBindings(), reason);
    ASSERT_NE(keyboard, nullptr) << reason;
    EXPECT_EQ(keyboard->watchdogBackend(), "XTest") << "the server keeps its keys down";
    XTestFakeKeyEvent(keyboard->display(), 1, True, CurrentTime);  // keycode < 8: BadValue
    XSync(keyboard->display(), False);
    EXPECT_EQ(keyboard->protocolErrors(), 1u);
    EXPECT_FALSE(keyboard->connectionLost());
    keyboard->key(kSteerDown, true);
    keyboard->releaseAll();
    expectKeys(window, {{KeyPress, XK_Down}, {KeyRelease, XK_Down}});
}

// Losing the X server must leave the process running. Done in a child process so a fault
// shows as its exit status instead of ending the test binary.
TEST_F(XTestKeyboardTest, LosingTheServerIsNotFatal) {
    enum : int { kOk = 0, kOpenFailed = 10, kLossNotSeen = 11 };
    for (const bool sendAfterLoss : {true, false}) {
        SCOPED_TRACE(sendAfterLoss ? "keys sent after the loss" : "closed right after the loss");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Xvfb server(kXvfbScreen, kXvfbArgs);
            setenv("DISPLAY", server.display().c_str(), 1);
            std::string reason;
            auto keyboard = openXTestKeyboard(readDesktopSession(), KeyBindings(), reason);
            if (keyboard == nullptr) {
                _exit(kOpenFailed);
            }
            keyboard->key(kSteerUp, true);
            keyboard->releaseAll();
            XSync(keyboard->display(), False);
            server.stop();
            if (sendAfterLoss) {
                for (int i = 0; i < 1000; ++i) {  // more than Xlib's buffer holds
                    keyboard->key(kSteerUp, i % 2 == 0);
                    keyboard->flush();
                }
                if (!keyboard->connectionLost()) {
                    _exit(kLossNotSeen);
                }
            }
            keyboard.reset();
            _exit(kOk);
        }
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        pid_t done = 0;
        while ((done = waitpid(child, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (done == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << "the child hung after the X server went away";
        }
        ASSERT_FALSE(WIFSIGNALED(status)) << "killed by " << strsignal(WTERMSIG(status));
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), kOk)
            << (WEXITSTATUS(status) == kOpenFailed    ? "XTest did not open"
                : WEXITSTATUS(status) == kLossNotSeen ? "the loss was not noticed"
                                                      : "Xlib ended the process");
    }
}

// A wrong session hint never ends with no keys while XTest works: every backend is tried in
// turn, each failure gives one line, and the first that opens is named.
TEST_F(XTestKeyboardTest, OpenKeyboardFallsBackAcrossWrongHints) {
    const bool uinputUsable = access("/dev/uinput", W_OK) == 0;
    const std::string xvfb = server_->display();
    const char* stray = "camsteer-no-such-compositor";
    struct Case {
        const char* display;
        const char* wayland;
        const char* sessionType;
    };
    const Case cases[] = {
        {xvfb.c_str(), nullptr, nullptr}, {xvfb.c_str(), stray, "x11"},
        {xvfb.c_str(), stray, nullptr},   {xvfb.c_str(), nullptr, "wayland"},
        {nullptr, nullptr, nullptr},      {":4242", stray, "x11"},  // no X server there
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.display ? c.display : "-") + " " +
                     (c.wayland ? c.wayland : "-") + " " + (c.sessionType ? c.sessionType : "-"));
        EnvOverride env{{"DISPLAY", c.display},
                        {"WAYLAND_DISPLAY", c.wayland},
                        {"XDG_SESSION_TYPE", c.sessionType},
                        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/camsteer-bus"}};
        // What should happen: the first backend of the order that can work here opens.
        std::vector<std::string> failed;
        std::string chosen;
        const DesktopSession session = readDesktopSession();
        for (KeyBackend backend : keyBackendOrder(session)) {
            const bool works = backend == KeyBackend::kXTest    ? c.display == xvfb.c_str()
                               : backend == KeyBackend::kUinput ? uinputUsable
                                                                : false;
            if (works) {
                chosen = keyBackendName(backend);
                break;
            }
            failed.push_back(keyBackendName(backend));
        }
        KeyboardChoice choice = openKeyboard(session, KeyBindings());
        std::string lines;
        for (const std::string& line : choice.failures) {
            lines += line + "\n";
        }
        SCOPED_TRACE(lines);
        EXPECT_EQ(choice.keyboard ? choice.keyboard->name() : "", chosen);
        const std::string named = chosen.empty() ? "" : "key output via " + chosen;
        EXPECT_EQ(choice.inUse.substr(0, named.size()), named);
        EXPECT_EQ(choice.inUse.empty(), chosen.empty()) << choice.inUse;
        const bool xwayland = chosen == "XTest" && session.kind() == SessionKind::kWayland;
        EXPECT_EQ(choice.inUse.find("only X11 applications") != std::string::npos, xwayland)
            << choice.inUse;
        ASSERT_EQ(choice.failures.size(), failed.size());
        for (size_t i = 0; i < failed.size(); ++i) {
            EXPECT_EQ(choice.failures[i].rfind("key output via " + failed[i] + " unavailable: ", 0),
                      0u)
                << choice.failures[i];
            EXPECT_EQ(choice.failures[i].find('\n'), std::string::npos);
        }
    }
    EXPECT_STREQ(std::getenv("DISPLAY"), xvfb.c_str()) << "environment not restored";
}

}  // namespace
}  // namespace camsteer
