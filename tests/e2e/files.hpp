#pragma once

// Where the end-to-end tests find the built programs and the source tree's pictures, a scratch
// folder per test, and reading back what a run wrote.

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace camsteer::e2e {

inline std::string binaryPath(const std::string& relative) {
    return std::string(CAMSTEER_BINARY_DIR) + "/" + relative;
}
inline std::string sourcePath(const std::string& relative) {
    return std::string(CAMSTEER_SOURCE_DIR) + "/" + relative;
}
inline std::string programPath(const std::string& name) {
    return binaryPath("app/" + name);
}
inline std::string sampleBlue() {
    return sourcePath("images/sample_blue.png");
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

// The diagnostics of a run without what the window toolkit may add on its own (with the
// program's name in front, as the programs have the toolkit write its lines).
inline std::vector<std::string> diagnosticLines(const std::string& stderrText) {
    std::vector<std::string> out;
    for (const std::string& line : lines(stderrText)) {
        if (line.find(": QStandardPaths:") == std::string::npos &&
            line.rfind("QStandardPaths:", 0) != 0) {
            out.push_back(line);
        }
    }
    return out;
}

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/camsteer-e2e-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed: " + std::string(strerror(errno)));
        }
        path_ = pattern;
    }
    ~TempDir() {
        nftw(
            path_.c_str(),
            [](const char* file, const struct stat*, int, struct FTW*) { return ::remove(file); },
            16, FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    // Hands the folder to another user (a program run as one, see RunAs), so that it may work
    // and write there; false when that is not allowed.
    bool handTo(uid_t uid, gid_t gid) const { return chown(path_.c_str(), uid, gid) == 0; }

  private:
    std::string path_;
};

}  // namespace camsteer::e2e
