#include "app/session/instance_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace camsteer {

namespace {

bool isSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

// The display keys go to, as a file-name part: "x:0", "wayland-wayland-0", "console".
std::string sessionKey() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x = std::getenv("DISPLAY");
    std::string name = isSet(wayland) ? std::string("wayland-") + wayland
                       : isSet(x)     ? std::string("x") + x
                                      : std::string("console");
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return name;
}

}  // namespace

std::string InstanceLock::path() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (isSet(runtime) && runtime[0] == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
        return std::string(runtime) + "/camsteer-" + sessionKey() + ".lock";
    }
    return "/tmp/camsteer-" + std::to_string(::getuid()) + "-" + sessionKey() + ".lock";
}

std::string InstanceLock::sessionName() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x = std::getenv("DISPLAY");
    return isSet(wayland) ? std::string("Wayland display ") + wayland
           : isSet(x)     ? std::string("display ") + x
                          : std::string("the console");
}

bool InstanceLock::take(const char* program, std::string& holder) {
    const std::string file = path();
    // O_NOFOLLOW and the owner check: in /tmp someone else could have put a file or a link
    // there first.
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        if (fd >= 0) {
            ::close(fd);
        }
        return true;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char text[128] = {};
        const ssize_t n = ::pread(fd, text, sizeof(text) - 1, 0);
        ::close(fd);
        int pid = 0;
        char name[64] = {};
        if (n > 0 && std::sscanf(text, "%d %63s", &pid, name) == 2) {
            holder = std::string(name) + " (pid " + std::to_string(pid) + ")";
        } else {
            holder = "another camsteer";
        }
        return false;
    }
    const std::string text = std::to_string(::getpid()) + " " + program + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, text.data(), text.size(), 0) < 0) {
        // Only the holder's name is missing; the lock itself holds.
    }
    fd_ = fd;
    return true;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

}  // namespace camsteer
