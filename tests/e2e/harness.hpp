#pragma once

// What the end-to-end tests need to drive the real programs: a private Xvfb per test, the
// programs started as child processes with their output captured in files, and a small X
// client of the suite that finds windows, takes screenshots, sends keys and records the keys
// that reach a window of its own.

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "../common/xvfb.hpp"

// Last: Xlib's macros (None, Bool, Status, ...) must not meet the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

extern char** environ;

namespace camsteer::e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Xvfb;

// Bounds for things that normally take well under a second; generous for a loaded machine.
// They only end a wait that would otherwise hang, they time nothing.
constexpr auto kStartBound = 60s;  // until a program's windows are up and show frames
constexpr auto kExitBound = 60s;   // until a program has ended after being asked to

inline std::string binaryPath(const std::string& relative) {
    return std::string(CAMSTEER_BINARY_DIR) + "/" + relative;
}
inline std::string sourcePath(const std::string& relative) {
    return std::string(CAMSTEER_SOURCE_DIR) + "/" + relative;
}
inline std::string programPath(const std::string& name) {
    return binaryPath("app/" + name);
}
inline std::string sampleBlue() {
    return sourcePath("images/sample_blue.png");
}

// Calls `done` every `step` until it answers true or `bound` has passed.
inline bool pollUntil(const std::function<bool()>& done, Clock::duration bound,
                      Clock::duration step = 50ms) {
    const auto deadline = Clock::now() + bound;
    for (;;) {
        if (done()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(step);
    }
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

// The diagnostics of a run without what the window toolkit may add on its own.
inline std::vector<std::string> diagnosticLines(const std::string& stderrText) {
    std::vector<std::string> out;
    for (const std::string& line : lines(stderrText)) {
        if (line.rfind("QStandardPaths:", 0) != 0) {
            out.push_back(line);
        }
    }
    return out;
}

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/camsteer-e2e-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed: " + std::string(strerror(errno)));
        }
        path_ = pattern;
    }
    ~TempDir() {
        nftw(
            path_.c_str(),
            [](const char* file, const struct stat*, int, struct FTW*) { return ::remove(file); },
            16, FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A wait status, readable in failure messages.
struct ExitStatus {
    int raw = 0;
    bool exited() const { return WIFEXITED(raw); }
    int code() const { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1; }
    bool signaled() const { return WIFSIGNALED(raw); }
    int signal() const { return WIFSIGNALED(raw) ? WTERMSIG(raw) : 0; }
    std::string describe() const {
        if (exited()) {
            return "exit status " + std::to_string(code());
        }
        if (signaled()) {
            return std::string("killed by ") + strsignal(signal());
        }
        return "wait status " + std::to_string(raw);
    }
};

// Environment changes for a child: a value sets the variable, nullopt removes it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// The session variables a program reads, all cleared but DISPLAY, which names `display`
// (or is cleared too when `display` is nullopt).
inline EnvChanges sessionEnv(const std::optional<std::string>& display) {
    return {{"DISPLAY", display},
            {"WAYLAND_DISPLAY", std::nullopt},
            {"XDG_SESSION_TYPE", std::nullopt},
            {"QT_QPA_PLATFORM", std::nullopt}};
}

// A program run as a child process. Standard output and error go to files in `outDir`;
// the destructor kills and reaps a child that is still running.
class Process {
  public:
    Process(const std::string& program, const std::vector<std::string>& args, const EnvChanges& env,
            const std::string& cwd, const std::string& outDir) {
        static int serial = 0;
        const std::string stem = outDir + "/run" + std::to_string(++serial);
        outPath_ = stem + ".out";
        errPath_ = stem + ".err";

        // Everything is prepared before fork: only exec-safe calls in the child.
        std::vector<std::string> argStore{program};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<std::string> envStore;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (env.count(entry.substr(0, entry.find('='))) == 0) {
                envStore.push_back(entry);
            }
        }
        for (const auto& [name, value] : env) {
            if (value) {
                envStore.push_back(name + "=" + *value);
            }
        }
        std::vector<char*> argv;
        for (std::string& a : argStore) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : envStore) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);

        const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (out < 0 || err < 0 || in < 0) {
            throw std::runtime_error("cannot open the output files in " + outDir);
        }
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // no stray program if the test process dies
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);  // a crash shows in the status, not as a file
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
                ::signal(signo, SIG_DFL);
            }
            dup2(in, STDIN_FILENO);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
                _exit(126);
            }
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        ::close(out);
        ::close(err);
        ::close(in);
        if (pid < 0) {
            throw std::runtime_error("fork failed: " + std::string(strerror(errno)));
        }
        pid_ = pid;
    }
    ~Process() {
        if (running()) {
            ::kill(pid_, SIGKILL);
            int raw = 0;
            while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
            }
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool running() {
        reap(false);
        return !status_.has_value();
    }
    void signal(int signo) {
        if (running()) {
            ::kill(pid_, signo);
        }
    }
    // The exit status once the program has ended, nullopt when it still runs after `bound`.
    std::optional<ExitStatus> wait(Clock::duration bound = kExitBound) {
        pollUntil([this] { return !running(); }, bound, 10ms);
        return status_;
    }
    std::string out() const { return readFile(outPath_); }
    std::string err() const { return readFile(errPath_); }

  private:
    void reap(bool block) {
        if (status_ || pid_ <= 0) {
            return;
        }
        int raw = 0;
        const pid_t done = waitpid(pid_, &raw, block ? 0 : WNOHANG);
        if (done == pid_) {
            status_ = ExitStatus{raw};
        }
    }

    pid_t pid_ = -1;
    std::optional<ExitStatus> status_;
    std::string outPath_;
    std::string errPath_;
};

// Runs a program to its end (bounded); the status is nullopt if it did not end.
struct Finished {
    std::optional<ExitStatus> status;
    std::string out;
    std::string err;
};
inline Finished runToEnd(const std::string& program, const std::vector<std::string>& args,
                         const EnvChanges& env, const std::string& cwd, const std::string& outDir) {
    Process process(program, args, env, cwd, outDir);
    Finished result;
    result.status = process.wait();
    result.out = process.out();
    result.err = process.err();
    return result;
}

// Writes a clip of the ball held still at (cx, cy) in the stored picture; empty on failure.
inline std::string makeHoldClip(const TempDir& dir, const std::string& name, int cx, int cy,
                                int radius, int frames = 30) {
    const std::string path = dir.file(name);
    const Finished made = runToEnd(binaryPath("images/camsteer_make_clip"),
                                   {path, "hold", std::to_string(cx), std::to_string(cy),
                                    std::to_string(radius), std::to_string(frames)},
                                   {}, dir.path(), dir.path());
    return made.status && made.status->exited() && made.status->code() == 0 ? path : "";
}

// The same at `fps` frames a second instead of camsteer_make_clip's own rate.
inline std::string makeHoldClipAtRate(const TempDir& dir, const std::string& name, int cx, int cy,
                                      int radius, int frames, int fps) {
    const std::string path = dir.file(name);
    const Finished made =
        runToEnd(binaryPath("images/camsteer_make_clip"),
                 {path, "hold", std::to_string(cx), std::to_string(cy), std::to_string(radius),
                  std::to_string(frames), std::to_string(fps)},
                 {}, dir.path(), dir.path());
    return made.status && made.status->exited() && made.status->code() == 0 ? path : "";
}

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

    // The pixels of `area` (window coordinates) as an 8-bit BGR picture; empty on failure.
    cv::Mat screenshot(Window window, const cv::Rect& area) {
        XImage* image = XGetImage(display_, window, area.x, area.y, area.width, area.height,
                                  AllPlanes, ZPixmap);
        cv::Mat picture;
        if (image == nullptr) {
            return picture;
        }
        picture.create(area.height, area.width, CV_8UC3);
        const auto channel = [](unsigned long pixel, unsigned long mask) {
            int shift = 0;
            while (mask != 0 && (mask & 1) == 0) {
                mask >>= 1;
                ++shift;
            }
            return static_cast<uchar>((pixel >> shift) & mask);
        };
        for (int y = 0; y < area.height; ++y) {
            for (int x = 0; x < area.width; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                picture.at<cv::Vec3b>(y, x) =
                    cv::Vec3b(channel(pixel, image->blue_mask), channel(pixel, image->green_mask),
                              channel(pixel, image->red_mask));
            }
        }
        XDestroyImage(image);
        return picture;
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

    // The steering keys (of Up, Down, Left, Right, KP_Add, KP_Subtract) the server holds down.
    std::vector<std::string> steeringKeysDown() {
        char keys[32] = {};
        XQueryKeymap(display_, keys);
        std::vector<std::string> down;
        for (KeySym keysym : {XK_Up, XK_Down, XK_Left, XK_Right, XK_KP_Add, XK_KP_Subtract}) {
            const KeyCode code = XKeysymToKeycode(display_, keysym);
            if (code != 0 && (keys[code / 8] & (1 << (code % 8))) != 0) {
                down.push_back(XKeysymToString(keysym));
            }
        }
        return down;
    }

  private:
    Display* display_ = nullptr;
    int created_ = 0;
};

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

// How many pixels of the 8-bit BGR `picture` pass `test`.
// The overlay's and mask view's colours as they come back in a screenshot.
inline bool isWhite(const cv::Vec3b& p) {
    return p[0] >= 250 && p[1] >= 250 && p[2] >= 250;
}
inline bool isBlack(const cv::Vec3b& p) {
    return p[0] <= 5 && p[1] <= 5 && p[2] <= 5;
}
inline bool isGreen(const cv::Vec3b& p) {
    return p[1] > 200 && p[0] < 80 && p[2] < 80;
}
inline bool isRed(const cv::Vec3b& p) {
    return p[2] > 200 && p[0] < 80 && p[1] < 80;
}

inline int countWhere(const cv::Mat& picture, bool (*test)(const cv::Vec3b&)) {
    int n = 0;
    for (int y = 0; y < picture.rows; ++y) {
        for (int x = 0; x < picture.cols; ++x) {
            n += test(picture.at<cv::Vec3b>(y, x)) ? 1 : 0;
        }
    }
    return n;
}

// The three windows of a running program.
struct ProgramWindows {
    Window camsteer = 0;
    Window output = 0;
    Window histogram = 0;
};

// A test with an Xvfb of its own, a connection of the suite to it and a scratch folder.
class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Xvfb::installed()) {
            GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh installs it)";
        }
        xvfb_ = std::make_unique<Xvfb>("1024x768x24", xvfbArgs());
        ASSERT_TRUE(xvfb_->running()) << xvfb_->error();
        x_ = std::make_unique<XClient>(xvfb_->display());
        ASSERT_TRUE(x_->ok()) << "cannot connect to " << xvfb_->display();
    }
    void TearDown() override {
        x_.reset();
        xvfb_.reset();
    }
    virtual std::vector<std::string> xvfbArgs() const { return {}; }

    EnvChanges env() const { return sessionEnv(xvfb_->display()); }

    // camsteer_replay on the blue sample and `clip`, run from the source tree (where images/
    // is found).
    std::unique_ptr<Process> startReplay(const std::string& clip) {
        return std::make_unique<Process>(programPath("camsteer_replay"),
                                         std::vector<std::string>{sampleBlue(), clip}, env(),
                                         sourcePath(""), dir_.path());
    }

    // Waits for the three windows; false (with a failure recorded) when they do not come.
    bool waitForWindows(ProgramWindows& windows) {
        const std::pair<const char*, Window*> wanted[] = {{"Camsteer", &windows.camsteer},
                                                          {"Output", &windows.output},
                                                          {"Histogram", &windows.histogram}};
        for (const auto& [name, where] : wanted) {
            const std::optional<Window> found = x_->waitForWindow(name, kStartBound);
            if (!found) {
                ADD_FAILURE() << "no window \"" << name << "\" appeared";
                return false;
            }
            *where = *found;
        }
        return true;
    }

    // The camera picture of "Camsteer" as the user sees it (the trackbars are below it).
    cv::Mat cameraPicture(Window camsteer) {
        return x_->screenshot(camsteer, cv::Rect(0, 0, 320, 240));
    }

    TempDir dir_;
    std::unique_ptr<Xvfb> xvfb_;
    std::unique_ptr<XClient> x_;
};

}  // namespace camsteer::e2e
