#include "platform/files/file_write.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/process/quoted_name.hpp"

namespace camsteer {

namespace {

bool writeAll(int fd, const char* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool makeFolders(const std::string& dir, unsigned mode, std::string& why) {
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string part = dir.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) {
            why = "cannot create the folder " + quotedName(part) + ": " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

bool replaceFile(const std::string& path, const void* bytes, size_t size, unsigned mode,
                 std::string& why) {
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // A name of our own beside the file, so the rename stays on one file system.
    static std::atomic<int> counter{0};
    const std::string temporary = dir + "/." + base + "." + std::to_string(::getpid()) + "." +
                                  std::to_string(counter++) + ".tmp";
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) {
        why = "cannot write " + quotedName(path) + ": " + std::strerror(errno);
        return false;
    }
    bool ok = writeAll(fd, static_cast<const char*>(bytes), size) && ::fsync(fd) == 0;
    const int saved = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temporary.c_str(), path.c_str()) == 0) {
        return true;
    }
    why = "cannot write " + quotedName(path) + ": " + std::strerror(ok ? errno : saved);
    ::unlink(temporary.c_str());
    return false;
}

bool writeFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes,
                         std::string& why) {
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(path.substr(0, slash), 0777, why)) {
        return false;
    }
    return replaceFile(path, bytes.data(), bytes.size(), 0666, why);
}

}  // namespace camsteer
