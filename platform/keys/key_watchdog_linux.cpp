#include "platform/keys/key_watchdog.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/keys/keyboard.hpp"
#include "platform/keys/keyboard_wayland.hpp"
#include "platform/keys/keyboard_xtest.hpp"
#include "platform/process/program_name.hpp"

extern char** environ;

namespace camsteer {

const char* const kKeyWatchdogArgument = "--camsteer-key-watchdog";

namespace {

// The backends with keys that outlive their client, and how the watchdog opens its own
// connection to each.
struct WatchedBackend {
    const char* name;
    std::unique_ptr<Keyboard> (*open)(std::string* reason);
};
const WatchedBackend kWatchedBackends[] = {
    {"XTest",
     [](std::string* reason) -> std::unique_ptr<Keyboard> { return openXTestKeyboard(reason); }},
    // KWin keeps a fake-input key down after its client is gone.
    {"KDE fake input",
     [](std::string* reason) -> std::unique_ptr<Keyboard> {
         return openFakeInputKeyboard(reason);
     }},
};

const WatchedBackend* findBackend(const std::string& name) {
    for (const WatchedBackend& backend : kWatchedBackends) {
        if (name == backend.name) {
            return &backend;
        }
    }
    return nullptr;
}

// A descriptor of 3 or more, close-on-exec: 0 to 2 are the child's standard streams.
int aboveStandardStreams(int fd) {
    if (fd > 2) {
        return fd;
    }
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

volatile sig_atomic_t gParentGone = 0;

// The running watchdog's pipe, for tellKeyWatchdogToRelease(); -1 while none runs.
volatile sig_atomic_t gRunningFd = -1;

void onParentGone(int) {
    gParentGone = 1;
}

void release(Keyboard& keyboard, std::uint8_t held) {
    if (held == 0) {
        return;
    }
    keyboard.keys(KeySet::fromBits(held), false);
    keyboard.flush();
}

int runWatchdog(const std::string& backendName, pid_t parent) {
    // Terminal signals are meant for the program, not for this.
    for (int signo : {SIGINT, SIGQUIT, SIGTSTP, SIGHUP, SIGTTIN, SIGTTOU, SIGPIPE}) {
        ::signal(signo, SIG_IGN);
    }
    // SIGTERM (also what the parent's death sends) interrupts the read without SA_RESTART.
    struct sigaction action {};
    action.sa_handler = onParentGone;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);

    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0 || !S_ISFIFO(st.st_mode)) {
        std::fprintf(stderr, "%s: %s is for the program's own use\n", programName(),
                     kKeyWatchdogArgument);
        return 2;
    }
    const WatchedBackend* backend = findBackend(backendName);
    std::string reason = "no such key backend";
    std::unique_ptr<Keyboard> keyboard = backend != nullptr ? backend->open(&reason) : nullptr;
    if (!keyboard) {
        std::fprintf(stderr,
                     "%s: the key watchdog cannot reach %s (%s); if %s is killed, press and "
                     "release the arrow keys to free any it held\n",
                     programName(), backendName.c_str(), reason.c_str(), programName());
        return 1;
    }

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
    if (::getppid() != parent) {
        gParentGone = 1;  // ended before the death signal was asked for: read what it left
        ::fcntl(STDIN_FILENO, F_SETFL, O_NONBLOCK);
    }
    for (;;) {
        std::uint8_t bytes[64];
        const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof(bytes));
        if (n < 0 && errno == EINTR && gParentGone == 0) {
            continue;
        }
        if (n <= 0) {
            break;  // the pipe broke (or the parent died with its write end leaked)
        }
        for (ssize_t i = 0; i < n; ++i) {
            beforeZero = bytes[i] == 0 ? static_cast<std::uint8_t>(beforeZero | held) : 0;
            releasedByZero = bytes[i] == 0 ? releasedByZero : 0;
            held = bytes[i];
        }
        if (held == 0) {
            release(*keyboard, beforeZero);
            releasedByZero |= beforeZero;
            beforeZero = 0;
        }
    }
    release(*keyboard, held | releasedByZero);
    return 0;  // closing the connection on the way out waits until the server has it all
}

}  // namespace

bool keysOutliveProcess(const std::string& backendName) {
    return findBackend(backendName) != nullptr;
}

std::unique_ptr<KeyWatchdog> KeyWatchdog::start(const std::string& backendName, std::string& why,
                                                const char* program) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        why = std::string("cannot make a pipe for the key watchdog: ") + std::strerror(errno);
        return nullptr;
    }
    const int readEnd = aboveStandardStreams(fds[0]);
    const int writeEnd = aboveStandardStreams(fds[1]);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, readEnd, STDIN_FILENO);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // Nothing else: an inherited uinput descriptor or display socket would keep keys alive.
    posix_spawn_file_actions_addclosefrom_np(&files, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);

    const std::string parent = std::to_string(::getpid());
    char* argv[] = {const_cast<char*>(programName()), const_cast<char*>(kKeyWatchdogArgument),
                    const_cast<char*>(backendName.c_str()), const_cast<char*>(parent.c_str()),
                    nullptr};
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, program != nullptr ? program : "/proc/self/exe", &files,
                                    &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    ::close(readEnd);
    if (error != 0) {
        ::close(writeEnd);
        why = std::string("cannot start the key watchdog: ") + std::strerror(error);
        return nullptr;
    }
    gRunningFd = writeEnd;
    return std::unique_ptr<KeyWatchdog>(new KeyWatchdog(writeEnd, pid));
}

KeyWatchdog::~KeyWatchdog() {
    if (gRunningFd == fd_) {
        gRunningFd = -1;
    }
    ::close(fd_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (::waitpid(pid_, nullptr, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void tellKeyWatchdogToRelease() {
    const int fd = gRunningFd;
    const int saved = errno;
    const char none = 0;
    if (fd >= 0 && ::write(fd, &none, 1) < 0) {
        // The watchdog sees the pipe break soon enough.
    }
    errno = saved;
}

bool runKeyWatchdogIfAsked(int argc, char** argv, int& status) {
    if (argc < 2 || std::strcmp(argv[1], kKeyWatchdogArgument) != 0) {
        return false;
    }
    if (argc != 4) {
        std::fprintf(stderr, "%s: %s is for the program's own use\n", programName(),
                     kKeyWatchdogArgument);
        status = 2;
        return true;
    }
    status = runWatchdog(argv[2], static_cast<pid_t>(std::atol(argv[3])));
    return true;
}

}  // namespace camsteer
