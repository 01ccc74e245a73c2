#pragma once

// A private Xvfb for one test: started with -displayfd so it picks a free display number
// itself, stopped in the destructor. Shared by the unit and the end-to-end tests.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "poll_until.hpp"

namespace camsteer::test {

class Xvfb {
  public:
    // Starts Xvfb with one screen of `screen` (WxHxDepth) and `extraArgs` (-noreset, extension
    // switches, ...) and waits until it accepts connections. On failure display() is empty and
    // error() says why.
    explicit Xvfb(const std::string& screen, const std::vector<std::string>& extraArgs = {}) {
        start(screen, extraArgs);
    }
    ~Xvfb() { stop(); }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    static bool installed() { return std::system("command -v Xvfb >/dev/null 2>&1") == 0; }

    // ":N", or empty when Xvfb could not be started.
    const std::string& display() const { return display_; }
    const std::string& error() const { return error_; }
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Ends the server with `signo` now and reaps it (SIGKILL when it does not end).
    void stop(int signo = SIGTERM) {
        if (pid_ <= 0) {
            return;
        }
        kill(pid_, signo);
        if (!reap(std::chrono::seconds(30))) {
            kill(pid_, SIGKILL);
            reap(std::chrono::seconds(60));
        }
        removeLeftovers();
        pid_ = -1;
    }

  private:
    void start(const std::string& screen, const std::vector<std::string>& extraArgs) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            error_ = std::string("pipe failed: ") + strerror(errno);
            return;
        }
        // Everything the child needs is prepared before fork: only exec-safe calls after it.
        std::vector<std::string> store = {"Xvfb",      "-displayfd", std::to_string(kDisplayFd),
                                          "-nolisten", "tcp",        "-screen",
                                          "0",         screen};
        store.insert(store.end(), extraArgs.begin(), extraArgs.end());
        std::vector<char*> argv;
        for (std::string& a : store) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid < 0) {
            error_ = std::string("fork failed: ") + strerror(errno);
            close(fds[0]);
            close(fds[1]);
            return;
        }
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);  // no stray server if the test process dies
            if (fds[1] == kDisplayFd) {
                fcntl(kDisplayFd, F_SETFD, 0);
            } else {
                dup2(fds[1], kDisplayFd);  // the duplicate is not close-on-exec
            }
            const int devNull = open("/dev/null", O_RDWR);
            if (devNull >= 0) {
                dup2(devNull, STDIN_FILENO);
                dup2(devNull, STDOUT_FILENO);
                dup2(devNull, STDERR_FILENO);
            }
            execvp("Xvfb", argv.data());
            _exit(127);
        }
        close(fds[1]);
        pid_ = pid;
        std::string number;
        if (readLine(fds[0], &number) && !number.empty()) {
            display_ = ":" + number;
        } else {
            error_ = "Xvfb (pid " + std::to_string(pid) +
                     ") reported no display number; run 'Xvfb -displayfd 1' to see why";
            stop(SIGKILL);
        }
        close(fds[0]);
    }

    // Reads the display number line; gives up when Xvfb exits (end of file) or after a
    // generous bound for a slow machine.
    static bool readLine(int fd, std::string* line) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd pfd{fd, POLLIN, 0};
            const int ready = poll(&pfd, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                return false;
            }
            char c = 0;
            const ssize_t n = read(fd, &c, 1);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            if (c == '\n') {
                return true;
            }
            *line += c;
        }
    }

    // A killed server leaves its lock file and socket behind. Another server starting at the
    // same moment (tests run side by side) could then take the stale lock in a race with a
    // third and end up sharing its display number, so they go now, while the lock still names
    // this server.
    void removeLeftovers() const {
        if (display_.size() < 2) {
            return;
        }
        const std::string number = display_.substr(1);
        const std::string lock = "/tmp/.X" + number + "-lock";
        char text[32] = {};
        const int fd = open(lock.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return;  // cleaned up by the server itself
        }
        const ssize_t n = read(fd, text, sizeof(text) - 1);
        close(fd);
        if (n > 0 && std::atol(text) == static_cast<long>(pid_)) {
            unlink(("/tmp/.X11-unix/X" + number).c_str());
            unlink(lock.c_str());
        }
    }

    bool reap(std::chrono::seconds bound) {
        return pollUntil(
            [this] {
                const pid_t done = waitpid(pid_, nullptr, WNOHANG);
                return done == pid_ || (done < 0 && errno != EINTR);
            },
            bound, std::chrono::milliseconds(10));
    }

    static constexpr int kDisplayFd = 9;
    pid_t pid_ = -1;
    std::string display_;
    std::string error_;
};

}  // namespace camsteer::test
