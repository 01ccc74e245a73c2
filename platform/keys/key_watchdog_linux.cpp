#include "platform/keys/key_watchdog.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/process/program_name.hpp"

extern char** environ;

namespace camsteer {

namespace {

// A descriptor of 3 or more, close-on-exec: 0 to 2 are the child's standard streams.
int aboveStandardStreams(int fd) {
    if (fd > 2) {
        return fd;
    }
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

// The running watchdog's pipe, for tellKeyWatchdogToRelease(); -1 while none runs.
volatile sig_atomic_t gRunningFd = -1;

// Waits at most half a second for a child that has been told to end.
void reap(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (::waitpid(pid, nullptr, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

bool KeyWatchdog::spawn(std::string& why) {
    int keys[2];
    int news[2];
    if (::pipe2(keys, O_CLOEXEC) != 0) {
        why = std::string("cannot make a pipe for the key watchdog: ") + std::strerror(errno);
        return false;
    }
    if (::pipe2(news, O_CLOEXEC | O_NONBLOCK) != 0) {
        why = std::string("cannot make a pipe for the key watchdog: ") + std::strerror(errno);
        ::close(keys[0]);
        ::close(keys[1]);
        return false;
    }
    const int readEnd = aboveStandardStreams(keys[0]);
    const int writeEnd = aboveStandardStreams(keys[1]);
    const int newsRead = aboveStandardStreams(news[0]);
    const int newsWrite = aboveStandardStreams(news[1]);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, readEnd, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&files, newsWrite, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Nothing else: an inherited uinput descriptor or display socket would keep keys alive.
    posix_spawn_file_actions_addclosefrom_np(&files, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);

    const std::string parent = std::to_string(::getpid());
    const std::string bound = bindings_.text();
    char* argv[] = {
        const_cast<char*>(programName()),        const_cast<char*>(kKeyWatchdogArgument),
        const_cast<char*>(backendName_.c_str()), const_cast<char*>(parent.c_str()),
        const_cast<char*>(bound.c_str()),        nullptr};
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, program_ != nullptr ? program_ : "/proc/self/exe", &files,
                                    &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    ::close(readEnd);
    ::close(newsWrite);
    if (error != 0) {
        ::close(writeEnd);
        ::close(newsRead);
        why = std::string("cannot start the key watchdog: ") + std::strerror(error);
        return false;
    }
    if (fd_ < 0) {
        fd_ = writeEnd;
    } else {
        // In place of the old pipe, keeping its descriptor and its non-blocking writes.
        const int flags = ::fcntl(fd_, F_GETFL);
        ::dup3(writeEnd, fd_, O_CLOEXEC);
        ::close(writeEnd);
        if (flags >= 0) {
            ::fcntl(fd_, F_SETFL, flags);
        }
    }
    if (news_ >= 0) {
        ::close(news_);
    }
    news_ = newsRead;
    pid_ = pid;
    ready_ = false;
    cannotReach_ = false;
    reason_.clear();
    gRunningFd = fd_;  // for tellKeyWatchdogToRelease
    return true;
}

bool KeyWatchdog::restart(std::string& why) {
    const pid_t old = static_cast<pid_t>(pid_);
    if (!spawn(why)) {
        return false;
    }
    reap(old);  // it ended already
    return true;
}

KeyWatchdog::News KeyWatchdog::takeNews() {
    News news;
    char bytes[256];
    ssize_t n;
    while ((n = ::read(news_, bytes, sizeof(bytes))) > 0 || (n < 0 && errno == EINTR)) {
        hear(bytes, static_cast<size_t>(n), news);
    }
    news.ended = n == 0;
    hear(bytes, 0, news);
    return news;
}

KeyWatchdog::~KeyWatchdog() {
    if (gRunningFd == fd_) {
        gRunningFd = -1;
    }
    ::close(fd_);
    ::close(news_);
    reap(static_cast<pid_t>(pid_));
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

}  // namespace camsteer
