// The watchdog process itself: what runKeyWatchdogIfAsked runs. It needs only the two key
// backends whose keys outlive their client, so a program can enter it before loading anything
// heavier.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/keys/key_watchdog.hpp"
#include "platform/keys/keyboard_wayland.hpp"
#include "platform/keys/keyboard_xtest.hpp"
#include "platform/process/program_name.hpp"
#include "platform/session/desktop_session.hpp"

namespace camsteer {

namespace {

volatile sig_atomic_t gAskedToEnd = 0;

void onTerminate(int) {
    gAskedToEnd = 1;
}

// How often the watchdog looks whether the program is stopped (SIGSTOP, a debugger): the keys
// it holds stay down at most this long after. One pread of /proc/PID/stat, a few microseconds.
constexpr int kStopCheckMs = 100;

// The backend the program named, the keys it sends, and the session the watchdog runs in.
struct Backend {
    std::string name;
    KeyBindings bindings;
    DesktopSession session;
};

std::unique_ptr<Keyboard> openBackend(const Backend& backend, std::string& why) {
    if (backend.name == "XTest") {
        return openXTestKeyboard(backend.session, backend.bindings, why);
    }
    if (backend.name == "KDE fake input") {
        return openFakeInputKeyboard(backend.session, backend.bindings, why);
    }
    why = "no such key backend";
    return nullptr;
}

void release(Keyboard& keyboard, std::uint8_t held) {
    if (held == 0) {
        return;
    }
    keyboard.keys(KeySet::fromBits(held), false);
    keyboard.flush();
}

// Tells the program something (a KeyWatchdogNote), never waiting for it to read.
void note(char what) {
    if (::write(STDOUT_FILENO, &what, 1) < 0) {
        // The program reads notes only while a run is on; a full pipe already says enough.
    }
}

// The state letter of the process whose /proc/PID/stat is open at `fd` ('T' stopped, 't'
// stopped by a debugger), or 0 once it is gone.
char processState(int fd) {
    char stat[512];
    const ssize_t n = ::pread(fd, stat, sizeof(stat) - 1, 0);
    if (n <= 0) {
        return 0;
    }
    stat[n] = '\0';
    const char* close = std::strrchr(stat, ')');
    return close != nullptr && close[1] == ' ' ? close[2] : 0;
}

// The second guard: a fork of the watchdog, told after every change what the watchdog would
// release at the end of the program, that ends with it. Should the watchdog end with keys down
// while the program ends too (a kill of both pids, `kill -9 PROGRAM WATCHDOG`), the guard
// releases them; a program still running a second later starts a watchdog of its own.
// Another name, too, so a kill by the programs' name misses it.
// `unread` is the program's own pipe, which the guard leaves to the watchdog while it lives:
// what the program wrote that the watchdog was killed before reading (a busy machine may not
// run it between the program's report and the kill) is down too.
void runGuard(const Backend& backend, int input, int unread, int parentStat) {
    ::prctl(PR_SET_NAME, "camsteer-guard");
    std::uint8_t last = 0;
    std::uint8_t bytes[64];
    ssize_t n;
    while ((n = ::read(input, bytes, sizeof(bytes))) > 0 || (n < 0 && errno == EINTR)) {
        last = n > 0 ? bytes[n - 1] : last;
    }
    ::fcntl(unread, F_SETFL, O_NONBLOCK);
    while ((n = ::read(unread, bytes, sizeof(bytes))) > 0 || (n < 0 && errno == EINTR)) {
        for (ssize_t i = 0; i < n; ++i) {
            last |= bytes[i];  // a key released since is released again: harmless
        }
    }
    for (int tries = 0; last != 0 && tries < 100; ++tries) {
        const char state = processState(parentStat);
        if (state == 0 || state == 'Z' || state == 'X') {
            std::string why;
            if (std::unique_ptr<Keyboard> keyboard = openBackend(backend, why)) {
                release(*keyboard, last);
            }
            return;
        }
        ::usleep(10 * 1000);
    }
}

// Closes every descriptor from 3 up but those in `keep`.
void closeAllBut(std::initializer_list<int> keep) {
    std::vector<int> kept(keep);
    std::sort(kept.begin(), kept.end());
    unsigned from = 3;
    for (const int fd : kept) {
        if (fd >= static_cast<int>(from)) {
            if (static_cast<unsigned>(fd) > from) {
                ::close_range(from, static_cast<unsigned>(fd) - 1, 0);
            }
            from = static_cast<unsigned>(fd) + 1;
        }
    }
    ::close_range(from, ~0U, 0);
}

// Starts the guard; the pipe to it (-1 without one). It keeps only its pipe, the parent's stat
// and a copy of the program's pipe: the news pipe must end with the watchdog.
int startGuard(const Backend& backend, int parentStat) {
    int pipe[2];
    if (parentStat < 0 || ::pipe2(pipe, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t guard = ::fork();
    if (guard == 0) {
        const int unread = ::dup(STDIN_FILENO);
        const int nothing = ::open("/dev/null", O_RDWR);
        ::dup2(nothing, STDIN_FILENO);
        ::dup2(nothing, STDOUT_FILENO);
        closeAllBut({pipe[0], unread, parentStat});
        runGuard(backend, pipe[0], unread, parentStat);
        ::_exit(0);
    }
    ::close(pipe[0]);
    if (guard < 0) {
        ::close(pipe[1]);
        return -1;
    }
    ::fcntl(pipe[1], F_SETFL, O_NONBLOCK);
    return pipe[1];
}

void tell(int guard, std::uint8_t keys) {
    if (guard >= 0 && ::write(guard, &keys, 1) < 0) {
        // A guard that is gone cannot help; the watchdog goes on.
    }
}

int runWatchdog(const std::string& backendName, const KeyBindings& bindings, pid_t parent) {
    // Terminal signals are meant for the program, not for this. SIGTERM ends the watch (the
    // keys are released first), interrupting a poll.
    for (int signo : {SIGINT, SIGQUIT, SIGTSTP, SIGHUP, SIGTTIN, SIGTTOU, SIGPIPE, SIGCHLD}) {
        ::signal(signo, SIG_IGN);
    }
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);

    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0 || !S_ISFIFO(st.st_mode)) {
        std::fprintf(stderr, "%s: %s is for the program's own use\n", programName(),
                     kKeyWatchdogArgument);
        return 2;
    }
    ::fcntl(STDOUT_FILENO, F_SETFL, O_NONBLOCK);
    const Backend backend{backendName, bindings, readDesktopSession()};

    // The parent's stat, opened while it is still our parent, so a later process under its pid
    // is never read. Its state shows whether it is stopped, and its end even when the pipe's
    // write end has leaked into another process.
    const int parentStat =
        ::open(("/proc/" + std::to_string(parent) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    bool parentGone = ::getppid() != parent || parentStat < 0;
    // The guard first: the program presses keys from its first frame on, whether this process
    // has reached the backend yet or not.
    const int guard = parentGone ? -1 : startGuard(backend, parentStat);

    std::string why;
    std::unique_ptr<Keyboard> keyboard = openBackend(backend, why);
    if (!keyboard) {
        // The program says so, knowing what it means for the run.
        note(kWatchdogCannotReach);
        if (::write(STDOUT_FILENO, why.data(), why.size()) < 0) {
            // The program then says it without the reason.
        }
        return 1;
    }
    note(kWatchdogReady);
    std::uint8_t guardKnows = 0;

    std::uint8_t held = 0;
    // What was down before the latest 0 byte. It is released only while that 0 is the latest
    // word: bytes read late (this process still starting, or slow) must not release keys the
    // program has pressed again since, on its own connection.
    std::uint8_t beforeZero = 0;
    // What 0 bytes released since the last non-zero byte. The 0 of a fatal signal's handler
    // comes from any thread, so it can fall between another thread's report of a press and
    // the press itself, which then reaches the server after the release: these keys are
    // released again when the program is gone. A non-zero byte is written after any such
    // press, and reports it.
    std::uint8_t releasedByZero = 0;
    bool releasedForStop = false;  // since the program was last seen stopped
    ::fcntl(STDIN_FILENO, F_SETFL, O_NONBLOCK);
    for (bool pipeBroken = false; !pipeBroken;) {
        if (!parentGone && gAskedToEnd == 0) {
            pollfd input{STDIN_FILENO, POLLIN, 0};
            if (::poll(&input, 1, kStopCheckMs) < 0 && errno != EINTR) {
                break;
            }
        }
        std::uint8_t bytes[64];
        ssize_t n;
        while ((n = ::read(STDIN_FILENO, bytes, sizeof(bytes))) > 0 || (n < 0 && errno == EINTR)) {
            for (ssize_t i = 0; i < n; ++i) {
                beforeZero = bytes[i] == 0 ? static_cast<std::uint8_t>(beforeZero | held) : 0;
                releasedByZero = bytes[i] == 0 ? releasedByZero : 0;
                held = bytes[i];
            }
            if (n > 0 && held == 0) {
                release(*keyboard, beforeZero);
                releasedByZero |= beforeZero;
                beforeZero = 0;
            }
        }
        if ((held | releasedByZero) != guardKnows) {
            guardKnows = held | releasedByZero;
            tell(guard, guardKnows);
        }
        // The pipe broke: the program ended, in any way (SIGKILL and crashes included).
        pipeBroken = n == 0 || errno != EAGAIN;
        if (parentGone || gAskedToEnd != 0) {
            break;  // what the pipe held is read
        }
        const char state = processState(parentStat);
        if (state == 0 || state == 'Z' || state == 'X') {
            parentGone = true;  // and its write end lives on elsewhere: read it out once more
        } else if (state == 'T' || state == 't') {
            // Stopped (SIGSTOP, a debugger): it cannot release what it holds, so this does,
            // once per stop, and says so; continued, the program presses again what it wants.
            if (!releasedForStop && held != 0) {
                release(*keyboard, held);
                note(kWatchdogReleasedForStop);
            }
            releasedForStop = true;
        } else {
            releasedForStop = false;
        }
    }
    if (parentStat >= 0) {
        ::close(parentStat);
    }
    release(*keyboard, held | releasedByZero);
    tell(guard, 0);  // released: the guard has nothing left to do
    return 0;        // closing the connection on the way out waits until the server has it all
}

}  // namespace

bool runKeyWatchdogIfAsked(int argc, char** argv, int& status) {
    KeyBindings bindings;
    status = readKeyWatchdogLine(argc, argv, bindings);
    if (status == 0) {
        status = runWatchdog(argv[2], bindings, static_cast<pid_t>(std::atol(argv[3])));
    }
    return status >= 0;
}

}  // namespace camsteer
