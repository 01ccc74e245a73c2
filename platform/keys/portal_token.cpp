#include "platform/keys/portal_token.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace camsteer {

namespace {

// A token is an opaque short string the portal made (a UUID in practice); anything longer or
// with other bytes was not written by us.
constexpr size_t kMaxToken = 1024;

bool isToken(const std::string& text) {
    if (text.empty() || text.size() > kMaxToken) {
        return false;
    }
    for (char c : text) {
        if (c <= ' ' || c > '~') {
            return false;
        }
    }
    return true;
}

// Makes every missing folder of `path`'s parent, private to the user; false on failure.
bool makeParents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string restoreTokenPath(const DesktopSession& session) {
    return session.stateHome.empty() ? "" : session.stateHome + "/camsteer/portal-restore-token";
}

std::string readRestoreToken(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return {};
    }
    char buffer[kMaxToken + 2];
    size_t got = 0;
    ssize_t n = 0;
    while (got < sizeof(buffer) && ((n = ::read(fd, buffer + got, sizeof(buffer) - got)) > 0 ||
                                    (n < 0 && errno == EINTR))) {
        got += n > 0 ? static_cast<size_t>(n) : 0;
    }
    ::close(fd);
    std::string token(buffer, got);
    if (!token.empty() && token.back() == '\n') {
        token.pop_back();
    }
    return isToken(token) ? token : std::string();
}

bool keepRestoreToken(const std::string& path, const std::string& token, std::string& why) {
    if (token.empty()) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            why = "cannot remove " + path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    if (!isToken(token)) {
        why = "the desktop's restore token is not one that can be kept";
        return false;
    }
    if (!makeParents(path)) {
        why = "cannot make the folder for " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        why = "cannot write " + temporary + ": " + std::strerror(errno);
        return false;
    }
    const std::string text = token + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int error = errno;
    const bool synced = written && ::fsync(fd) == 0;
    ::close(fd);
    if (!synced || ::rename(temporary.c_str(), path.c_str()) != 0) {
        why = "cannot write " + path + ": " + std::strerror(written ? errno : error);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace camsteer
