#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/reference_file.hpp"
#include "platform/process/quoted_name.hpp"

namespace camsteer {

HeldBackStderr::HeldBackStderr() {
    std::fflush(stderr);
    held_ = ::memfd_create("decoder-output", MFD_CLOEXEC);
    saved_ = held_ >= 0 ? ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3) : -1;
    if (saved_ < 0 || ::dup2(held_, STDERR_FILENO) < 0) {
        closeAll();
    }
}

std::string HeldBackStderr::release() {
    if (held_ < 0) {
        return std::string();
    }
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    char text[512];
    const ssize_t n = ::pread(held_, text, sizeof(text), 0);
    closeAll();
    std::string said;
    for (ssize_t i = 0; i < n; ++i) {
        if (text[i] != '\n') {
            said += text[i];
        } else if (i + 1 < n) {
            said += "; ";
        }
    }
    return said;
}

void HeldBackStderr::closeAll() {
    for (int* fd : {&held_, &saved_}) {
        if (*fd >= 0) {
            ::close(*fd);
        }
        *fd = -1;
    }
}

namespace {

const char* fileKind(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFDIR:
            return "a directory";
        case S_IFIFO:
            return "a FIFO (named pipe)";
        case S_IFCHR:
            return "a character device";
        case S_IFBLK:
            return "a block device";
        case S_IFSOCK:
            return "a socket";
    }
    return "not a regular file";
}

std::string openFailure(int error) {
    switch (error) {
        case ENOENT:
            return "no such file";
        case EACCES:
        case EPERM:
            return "permission denied; you may not read it (see ls -l)";
        default:
            return std::strerror(error);
    }
}

}  // namespace

std::string refusalBeforeReading(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return openFailure(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return std::string("it is ") + fileKind(st.st_mode) + ", not a picture file";
    }
    if (st.st_size == 0) {
        return "the file is empty";
    }
    // Non-blocking: should the path have become a FIFO meanwhile, opening it does not wait.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return openFailure(errno);
    }
    const bool stillRegular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return stillRegular ? std::string() : "it is not a regular file any more";
}

bool readFileStart(const std::string& path, size_t limit, std::string& text, std::string& problem) {
    text.clear();
    // Not blocking: a FIFO put in its place must not stall the start.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            problem = std::string("cannot be read: ") + std::strerror(errno);
        }
        return false;
    }
    struct stat st {};
    bool ok = true;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        problem = "is not a file";
        ok = false;
    } else {
        text.resize(limit);
        size_t got = 0;
        ssize_t n = 0;
        while (got < text.size() &&
               ((n = ::read(fd, &text[got], text.size() - got)) > 0 || (n < 0 && errno == EINTR))) {
            got += n > 0 ? static_cast<size_t>(n) : 0;
        }
        if (n < 0) {
            problem = std::string("cannot be read: ") + std::strerror(errno);
            ok = false;
            got = 0;
        }
        text.resize(got);
    }
    ::close(fd);
    return ok;
}

}  // namespace camsteer
