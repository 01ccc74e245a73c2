#include "platform/keys/portal_token.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files/file_write.hpp"

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
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(path.substr(0, slash), 0700, why)) {
        return false;
    }
    const std::string text = token + "\n";
    return replaceFile(path, text.data(), text.size(), 0600, why);
}

}  // namespace camsteer
