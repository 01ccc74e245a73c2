#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/keys/key_watchdog.hpp"
#include "platform/keys/keyboard_xtest.hpp"
#include "tests/common/poll_until.hpp"
#include "tests/common/xvfb.hpp"

// Last: Xlib's macros must not meet the headers above.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace camsteer {
namespace {

// The watchdog is a run of a real program that handles the watchdog argument.
const char* const kProgram = CAMSTEER_BINARY_DIR "/app/camsteer_replay";

bool keyDown(Display* display, KeySym keysym) {
    char keys[32] = {};
    XQueryKeymap(display, keys);
    const KeyCode code = XKeysymToKeycode(display, keysym);
    return (keys[code / 8] & (1 << (code % 8))) != 0;
}

int openDescriptors(pid_t pid) {
    int count = 0;
    if (DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (const dirent* entry = readdir(dir)) {
            count += entry->d_name[0] != '.';
        }
        closedir(dir);
    }
    return count;
}

// Ends a wait that would otherwise hang, generous for a loaded machine; it times nothing.
constexpr auto kBound = std::chrono::seconds(30);

// Up and Left are held through this process's own XTest connection, the watchdog is told so,
// and then this process gives up the keys in one of the ways the watchdog must answer.
TEST(KeyWatchdog, ReleasesWhatItWasToldIsDownWhenTold) {
    if (!test::Xvfb::installed()) {
        GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh installs it)";
    }
    struct Case {
        const char* name;
        bool zeroByte;   // a 0 byte first, after which the watchdog goes on watching
        bool closePipe;  // then the pipe breaks
        // Between the two, Up and Left go down again: the press another thread had under way
        // when a fatal signal's handler wrote the 0.
        bool pressAfterZero;
    };
    const char* const savedDisplay = std::getenv("DISPLAY");
    const std::string saved = savedDisplay != nullptr ? savedDisplay : "";
    for (const Case& c :
         {Case{"a 0 byte", true, false, false}, Case{"the pipe breaking", false, true, false},
          Case{"a 0 byte, a press under way, the pipe breaking", true, true, true}}) {
        SCOPED_TRACE(c.name);
        test::Xvfb server("320x240x24", {"-noreset"});
        ASSERT_TRUE(server.running()) << server.error();
        setenv("DISPLAY", server.display().c_str(), 1);
        Display* observer = XOpenDisplay(server.display().c_str());
        ASSERT_NE(observer, nullptr);
        std::string why;
        std::unique_ptr<XTestKeyboard> keyboard =
            openXTestKeyboard(readDesktopSession(), KeyBindings(), why);
        ASSERT_TRUE(keyboard) << why;
        std::unique_ptr<KeyWatchdog> watchdog =
            KeyWatchdog::start("XTest", KeyBindings(), why, kProgram);
        ASSERT_TRUE(watchdog) << why;

        keyboard->key(kSteerUp, true);
        keyboard->key(kSteerLeft, true);
        keyboard->flush();
        const unsigned char upAndLeft = 0b101;  // SteeringKey: up, down, left, ...
        ASSERT_EQ(write(watchdog->fd(), &upAndLeft, 1), 1);
        ASSERT_TRUE(test::pollUntil(
            [&] { return keyDown(observer, XK_Up) && keyDown(observer, XK_Left); }, kBound));
        // Its own session, and no descriptor beyond its standard streams, its own display
        // connection, our /proc stat and its guard's pipe: it keeps no key device or display socket
        // of ours alive.
        EXPECT_NE(getsid(watchdog->pid()), getsid(0));
        EXPECT_TRUE(test::pollUntil([&] { return openDescriptors(watchdog->pid()) == 6; }, kBound))
            << openDescriptors(watchdog->pid()) << " descriptors open";

        const pid_t pid = watchdog->pid();
        const auto released = [&] {
            return test::pollUntil(
                [&] { return !keyDown(observer, XK_Up) && !keyDown(observer, XK_Left); }, kBound);
        };
        if (c.zeroByte) {
            const unsigned char none = 0;
            ASSERT_EQ(write(watchdog->fd(), &none, 1), 1);
            EXPECT_TRUE(released()) << "the keys stayed down after the 0 byte";
        }
        if (c.pressAfterZero) {
            keyboard->key(kSteerUp, true);
            keyboard->key(kSteerLeft, true);
            keyboard->flush();
            ASSERT_TRUE(test::pollUntil(
                [&] { return keyDown(observer, XK_Up) && keyDown(observer, XK_Left); }, kBound));
        }
        if (c.closePipe) {
            watchdog.reset();
            EXPECT_TRUE(released()) << "the keys stayed down after the pipe broke";
            // Reaped by the destructor, or ending soon after: waitpid no longer answers 0.
            EXPECT_TRUE(
                test::pollUntil([&] { return waitpid(pid, nullptr, WNOHANG) != 0; }, kBound))
                << "the watchdog did not end when the pipe broke";
        } else {
            EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the watchdog ended on a 0 byte";
        }
        watchdog.reset();
        keyboard.reset();
        XCloseDisplay(observer);
    }
    savedDisplay != nullptr ? setenv("DISPLAY", saved.c_str(), 1) : unsetenv("DISPLAY");
}

}  // namespace
}  // namespace camsteer
