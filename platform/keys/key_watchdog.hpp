#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/keys/key_names.hpp"

namespace camsteer {

// The first argument that makes camsteer or camsteer_replay run as a key watchdog. The programs
// pass it to themselves; nobody types it.
extern const char* const kKeyWatchdogArgument;

// What the watchdog tells the program, one byte each on a pipe of its own: it has reached the
// backend; it released the keys because the program was seen stopped; it cannot reach the
// backend (the reason follows, then it ends).
constexpr char kWatchdogReady = 'r';
constexpr char kWatchdogReleasedForStop = 's';
constexpr char kWatchdogCannotReach = 'x';

// A child process that releases the steering keys when this process no longer can. It holds a
// connection of its own to the same key backend, sending the same bound keys, and is told through
// a pipe which keys are down: one byte per change of the held set, bit i for SteeringKey i (what
// HeldKeys::mirrorTo writes). When a 0 byte comes it releases the keys last reported down and goes
// on watching; when the pipe breaks, because this process ended in any way (SIGKILL and crashes
// included), it releases them, and again those the latest 0 released (a press under way may have
// come after it), and ends. It also looks a few times a second whether this process is stopped
// (SIGSTOP, a debugger), and then releases the keys and says so (news()): continued, this
// process must press again what it wants.
//
// The child is a fresh exec of this program (/proc/self/exe, started with posix_spawn, so it is
// safe from a process with threads), in a session of its own: the terminal's signals and a
// kill of the program's process group or session do not reach it. It inherits no descriptor
// but the two pipes, and says nothing on standard error: this process speaks for it. Should
// the pipe's write end leak into another process, the watchdog still sees this one end. It
// forks a guard of its own ("camsteer-guard"), which releases the keys should the watchdog be
// killed together with this process (kill -9 of both pids).
class KeyWatchdog {
  public:
    // Starts a watchdog for the backend named `backendName` and the keys `bindings` binds;
    // nullptr with a one-line reason when the child cannot be started. `program` (null: this
    // program) may name another one that calls runKeyWatchdogIfAsked, for a test.
    static std::unique_ptr<KeyWatchdog> start(const std::string& backendName,
                                              const KeyBindings& bindings, std::string& why,
                                              const char* program = nullptr);
    // Closes the pipe (the child releases what it last saw down and ends) and reaps the child,
    // waiting for it at most half a second.
    ~KeyWatchdog();
    KeyWatchdog(const KeyWatchdog&) = delete;
    KeyWatchdog& operator=(const KeyWatchdog&) = delete;

    // The pipe's write end: for HeldKeys::mirrorTo, and for a signal handler's write of a 0 byte
    // (write() is async-signal-safe). It stays the same descriptor across restart().
    int fd() const { return fd_; }
    long pid() const { return pid_; }

    // What the watchdog said since the last call, and whether it has ended. Readable (poll)
    // whenever there is news: for the thread that watches the run.
    int newsFd() const { return news_; }
    struct News {
        bool releasedForStop = false;  // the program must press again what it wants
        bool ended = false;
        bool wasReady = false;     // it had reached the backend
        bool cannotReach = false;  // it ended because it cannot reach the backend, for `reason`
        std::string reason;
    };
    News takeNews();
    // Starts a new child in place of one that ended, on the same fd(); the caller then tells it
    // what is down (HeldKeys::mirrorTo). False with a one-line reason when it cannot.
    bool restart(std::string& why);

  private:
    KeyWatchdog(const std::string& backendName, const KeyBindings& bindings, const char* program)
        : backendName_(backendName), bindings_(bindings), program_(program) {}
    bool spawn(std::string& why);
    // Takes `n` bytes of news into `news` (and what it says for good: ready, cannot reach).
    void hear(const char* bytes, size_t n, News& news);

    std::string backendName_;
    KeyBindings bindings_;
    const char* program_;
    int fd_ = -1;
    int news_ = -1;
    long pid_ = -1;
    [[maybe_unused]] std::intptr_t process_ = 0;  // the child's handle, where there are handles
    bool ready_ = false;
    bool cannotReach_ = false;
    std::string reason_;
};

// Async-signal-safe: tells the running watchdog, if there is one, to release the keys now.
void tellKeyWatchdogToRelease();

// For the systems' runKeyWatchdogIfAsked: -1 when argv asks for no watchdog; 0 with `bindings`
// read for a watchdog's own command line; 2, after saying so, for one that is not.
int readKeyWatchdogLine(int argc, char** argv, KeyBindings& bindings);

// To be called first thing in main(). When argv[1] is kKeyWatchdogArgument this process is a
// watchdog: runs it to its end, stores its exit status and returns true. Otherwise returns false
// at once.
bool runKeyWatchdogIfAsked(int argc, char** argv, int& status);

}  // namespace camsteer
