#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace camsteer {

// The first argument that makes camsteer or camsteer_replay run as a key watchdog. The programs
// pass it to themselves; nobody types it.
extern const char* const kKeyWatchdogArgument;

// True for the key backends (by Keyboard::name()) whose pressed keys outlive the process that
// pressed them: an XTest key stays down in the X server after its client is gone, a KDE fake
// input key in KWin. Keys of the others go with the process (the kernel removes a uinput device
// with its last descriptor, a wlroots compositor drops a virtual keyboard with its client).
bool keysOutliveProcess(const std::string& backendName);

// A child process that releases the steering keys when this process no longer can. It holds a
// connection of its own to the same key backend and is told through a pipe which keys are down:
// one byte per change of the held set, bit i for kSteeringKeys[i] (what HeldKeys::mirrorTo
// writes). When a 0 byte comes it releases the keys last reported down and goes on watching;
// when the pipe breaks, because this process ended in any way (SIGKILL and crashes included),
// it releases them, and again those the latest 0 released (a press under way may have come
// after it), and ends.
//
// The child is a fresh exec of this program (/proc/self/exe, started with posix_spawn, so it is
// safe from a process with threads). It inherits no descriptor but the pipe, standard input and
// standard error, runs in a process group of its own (the terminal's Ctrl-C, Ctrl-\ and Ctrl-Z
// reach only the program) and ignores the terminal's signals; should the pipe's write end leak
// into another process, the end of the thread that started it ends the watch too.
class KeyWatchdog {
  public:
    // Starts a watchdog for the backend named `backendName`; nullptr with a one-line reason
    // when the child cannot be started. Call from the thread that lives longest (main).
    // `program` (null: this program) may name another one that calls runKeyWatchdogIfAsked,
    // for a test.
    static std::unique_ptr<KeyWatchdog> start(const std::string& backendName, std::string& why,
                                              const char* program = nullptr);
    // Closes the pipe (the child releases what it last saw down and ends) and reaps the child,
    // waiting for it at most half a second.
    ~KeyWatchdog();
    KeyWatchdog(const KeyWatchdog&) = delete;
    KeyWatchdog& operator=(const KeyWatchdog&) = delete;

    // The pipe's write end: for HeldKeys::mirrorTo, and for a signal handler's write of a 0 byte
    // (write() is async-signal-safe).
    int fd() const { return fd_; }
    pid_t pid() const { return pid_; }

  private:
    KeyWatchdog(int fd, pid_t pid) : fd_(fd), pid_(pid) {}
    int fd_;
    pid_t pid_;
};

// Async-signal-safe: tells the running watchdog, if there is one, to release the keys now.
void tellKeyWatchdogToRelease();

// To be called first thing in main(). When argv[1] is kKeyWatchdogArgument this process is a
// watchdog: runs it to its end, stores its exit status and returns true. Otherwise returns false
// at once.
bool runKeyWatchdogIfAsked(int argc, char** argv, int& status);

}  // namespace camsteer
