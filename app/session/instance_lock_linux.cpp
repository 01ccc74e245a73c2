#include "app/session/instance_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/process/quoted_name.hpp"

namespace camsteer {

namespace {

bool allDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// `text` as a file-name part: unusual characters become '_', and a long one is shortened to a
// hash of it (FNV-1a) so that the name stays within the file system's limit.
std::string fileNamePart(const std::string& text) {
    std::string part = text;
    for (char& c : part) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-' && c != '.' && c != ':') {
            c = '_';
        }
    }
    if (part.size() <= 100) {
        return part;
    }
    unsigned long long hash = 14695981039346656037ull;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    char hex[20];
    std::snprintf(hex, sizeof(hex), "%016llx", hash);
    return part.substr(0, 60) + "-" + hex;
}

bool thisMachine(std::string host) {
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    char own[HOST_NAME_MAX + 1] = {};
    ::gethostname(own, sizeof(own) - 1);
    std::string ownName = own;
    std::transform(ownName.begin(), ownName.end(), ownName.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return host.empty() || host == "unix" || host == "localhost" || host == "127.0.0.1" ||
           host == ownName;
}

// The X server DISPLAY names: "x71" for server 71 of this machine, "x-HOST-71" for another
// host's; what cannot be read as a display name is kept as it is.
std::string xServerKey(const std::string& display) {
    const std::string kept = "x-" + fileNamePart(display);
    const size_t colon = display.rfind(':');
    if (colon == std::string::npos || colon + 1 >= display.size()) {
        return kept;
    }
    std::string host = display.substr(0, colon);
    const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
    if (!allDigits(number) || number.size() > 6 || (!host.empty() && host.back() == ':')) {
        return kept;  // not a number, or DECnet ("host::0")
    }
    const std::string server = std::to_string(std::stoul(number));
    const std::string socketDir = "/tmp/.X11-unix/X";
    if (!host.empty() && host[0] == '/') {  // the socket's own path
        return host.rfind(socketDir, 0) == 0 && allDigits(host.substr(socketDir.size()))
                   ? "x" + std::to_string(std::stoul(host.substr(socketDir.size())))
                   : "x-" + fileNamePart(host);
    }
    if (const size_t slash = host.find('/'); slash != std::string::npos) {
        host = host.substr(slash + 1);  // "unix/:0", "tcp/localhost:0": the protocol goes
    }
    return thisMachine(host) ? "x" + server : "x-" + fileNamePart(host) + "-" + server;
}

// The compositor's socket, as its clients find it, with links resolved.
std::string waylandSocket(const std::string& wayland, const std::string& runtimeDir) {
    std::string socket = wayland;
    if (socket[0] != '/' && !runtimeDir.empty()) {
        socket = runtimeDir + "/" + socket;
    }
    char resolved[PATH_MAX];
    return ::realpath(socket.c_str(), resolved) != nullptr ? resolved : socket;
}

std::string lockedBy(int fd) {
    char text[128] = {};
    const ssize_t n = ::pread(fd, text, sizeof(text) - 1, 0);
    int pid = 0;
    char name[64] = {};
    if (n > 0 && std::sscanf(text, "%d %63s", &pid, name) == 2) {
        return std::string(name) + " (pid " + std::to_string(pid) + ")";
    }
    return "another camsteer";
}

}  // namespace

std::vector<LockedDisplay> lockedDisplays(const DesktopSession& session) {
    std::vector<LockedDisplay> servers;
    if (session.hasWayland()) {
        servers.push_back(
            {"wayland-" + fileNamePart(waylandSocket(session.waylandDisplay, session.runtimeDir)),
             "Wayland display " + session.waylandDisplay});
    }
    if (session.hasX11()) {
        servers.push_back({xServerKey(session.x11Display), "display " + session.x11Display});
    }
    if (servers.empty()) {
        servers.push_back({"console", "the console"});
    }
    return servers;
}

std::string lockFolder(const std::string& runtimeDir, unsigned uid) {
    struct stat st {};
    if (!runtimeDir.empty() && runtimeDir[0] == '/' && ::stat(runtimeDir.c_str(), &st) == 0 &&
        S_ISDIR(st.st_mode) && st.st_uid == uid && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0) {
        return runtimeDir;
    }
    return "";
}

std::string InstanceLock::path(const std::string& folder, const LockedDisplay& server) {
    return folder.empty()
               ? "/tmp/camsteer-" + std::to_string(::getuid()) + "-" + server.key + ".lock"
               : folder + "/camsteer-" + server.key + ".lock";
}

bool InstanceLock::take(const char* program, const DesktopSession& session, std::string& refusal) {
    const std::string folder = lockFolder(session.runtimeDir, ::getuid());
    for (const LockedDisplay& server : lockedDisplays(session)) {
        if (!takeOne(program, path(folder, server), server, refusal)) {
            return false;
        }
    }
    return true;
}

bool InstanceLock::takeOne(const char* program, const std::string& file,
                           const LockedDisplay& server, std::string& refusal) {
    // In /tmp anyone may have put a file or a link at the lock's name first: the lock never
    // follows a link, never uses a file of another user's or one with other names (truncating
    // it would change what those names show), and never goes on without the lock.
    const int fd =
        ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    std::string fault;
    struct stat st {};
    if (fd < 0) {
        fault = errno == ELOOP    ? "is a link"
                : errno == EISDIR ? "is not a plain file"
                                  : std::string("cannot be opened: ") + strerror(errno);
    } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        fault = "is not a plain file";
    } else if (st.st_uid != ::getuid()) {
        fault = "belongs to another user";
    } else if (st.st_nlink != 1) {
        fault = "has other names (hard links)";
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            refusal = lockedBy(fd) + " already sends keys on " + server.name +
                      "; end it first (Escape in its window), then start again";
            ::close(fd);
            return false;
        }
        fault = std::string("cannot be locked: ") + strerror(errno);
    }
    if (!fault.empty()) {
        if (fd >= 0) {
            ::close(fd);
        }
        refusal = "cannot make sure no other camsteer sends keys on " + server.name + ": " +
                  quotedName(file) + " " + fault +
                  "; remove it, or set XDG_RUNTIME_DIR to a folder of your own";
        return false;
    }
    const std::string text = std::to_string(::getpid()) + " " + program + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, text.data(), text.size(), 0) < 0) {
        // Only the holder's name is missing; the lock itself holds.
    }
    held_.push_back(fd);
    return true;
}

InstanceLock::~InstanceLock() {
    for (const std::intptr_t fd : held_) {
        ::close(static_cast<int>(fd));
    }
}

}  // namespace camsteer
