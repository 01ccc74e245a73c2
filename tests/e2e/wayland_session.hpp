#pragma once

// What the private Wayland compositors of the end-to-end tests (sway_session.hpp,
// kwin_session.hpp) have in common. Compositors refuse to run as root or should not, so a
// session runs as an unprivileged user (see unprivilegedUser) with a runtime folder of its own;
// its Xwayland admits only that user, so the clients of the session and the program under test
// run as that user too (see launch()). The programs under test and the pictures they read are
// copied into the session's folder (see stage()): the checkout may lie where that user cannot
// go, as in a private home folder.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "files.hpp"
#include "process.hpp"

namespace camsteer::e2e {

inline bool fileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

class WaylandSession {
  public:
    bool ok() const { return !waylandDisplay_.empty(); }
    const std::string& error() const { return error_; }
    // A file in the session's runtime folder, which its clients may write.
    std::string file(const std::string& name) const { return runtime_.file(name); }
    const std::string& waylandDisplay() const { return waylandDisplay_; }
    const std::string& xDisplay() const { return xDisplay_; }

    // How to run `program` as a client of the session: as its user, from and with its runtime
    // folder and (unless `env` says otherwise) its displays. The suite's own working folder may
    // be closed to that user (a checkout in a private home), and what the compositor starts
    // inherits its folder: foot, for one, will not run its shell where it cannot enter.
    Launch launch(const std::string& program, const std::vector<std::string>& args,
                  EnvChanges env = {}) const {
        env.insert({{"XDG_RUNTIME_DIR", runtime_.path()},
                    {"HOME", runtime_.path()},
                    {"WAYLAND_DISPLAY", waylandDisplay_},
                    {"DISPLAY", xDisplay_},
                    {"XDG_SESSION_TYPE", "wayland"},
                    {"QT_QPA_PLATFORM", std::nullopt}});
        return Launch{program, args, env, runtime_.path(), user_};
    }

    // The built program `name`, copied with the source tree's pictures into the session's folder
    // for its user; the copy's path (empty when copying failed). Run it there: it finds the
    // pictures as images/, the sample as kSample.
    std::string stage(const std::string& name) {
        namespace fs = std::filesystem;
        const std::string copy = file("bin/" + name);
        std::error_code failed;
        if (fileExists(copy)) {
            return copy;
        }
        fs::create_directories(file("bin"), failed);
        fs::create_directories(file("images"), failed);
        fs::copy_file(programPath(name), copy, failed);
        // The program proper is a module beside its small entry executable.
        fs::copy_file(programPath("camsteer_programs.so"), file("bin/camsteer_programs.so"),
                      fs::copy_options::overwrite_existing, failed);
        for (const auto& entry : fs::directory_iterator(sourcePath("images"), failed)) {
            const std::string ext = entry.path().extension();
            if (ext == ".bmp" || ext == ".png") {
                fs::copy_file(entry.path(), file("images/" + entry.path().filename().string()),
                              fs::copy_options::overwrite_existing, failed);
            }
        }
        return !failed && handOver() ? copy : "";
    }
    static constexpr const char* kSample = "images/sample_blue.png";

  protected:
    // Empty when `tools` are installed and there is a user to run a session as.
    static std::string missing(const std::vector<std::string>& tools) {
        for (const std::string& tool : tools) {
            if (findProgram(tool).empty()) {
                return tool + " is not installed (scripts/install-deps.sh installs it)";
            }
        }
        return unprivilegedUser() ? "" : "there is no unprivileged user to run a compositor as";
    }

    // The runtime folder, the user's own and private to it.
    WaylandSession() : user_(unprivilegedUser()) {
        // On a fresh /tmp, Xwayland run as the session's user would make the shared X socket
        // folder that user's, without the sticky bit, and KWin's Xwayland refuses such a folder
        // afterwards. Made here as the system makes it.
        if (geteuid() == 0 && mkdir(kXSockets, 01777) == 0) {
            chmod(kXSockets, 01777);
        }
        if (!user_ || !runtime_.handTo(user_->uid, user_->gid) ||
            chmod(runtime_.path().c_str(), 0700) != 0) {
            error_ = "cannot hand a runtime folder to an unprivileged user";
        }
    }

    // Hands everything in the session's folder to its user; false when that is not allowed.
    bool handOver() {
        if (!user_) {
            return false;
        }
        std::error_code failed;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(file(""), failed)) {
            if (lchown(entry.path().c_str(), user_->uid, user_->gid) != 0) {
                error_ = "cannot hand " + entry.path().string() + " to the session's user";
                return false;
            }
        }
        return !failed;
    }

    // A shell command for the compositor to run once it is up: it notes the session's displays
    // for waitForDisplays().
    std::string noteDisplays() const {
        return "echo \"$WAYLAND_DISPLAY $DISPLAY\" > " + file("displays.tmp") + " && mv " +
               file("displays.tmp") + " " + file("displays");
    }
    // Waits until the displays are noted; on failure error() tells, with `compositor`'s output.
    void waitForDisplays(Process& compositor) {
        pollUntil([&] { return !readFile(file("displays")).empty() || !compositor.running(); },
                  kStartBound);
        std::istringstream displays(readFile(file("displays")));
        displays >> waylandDisplay_ >> xDisplay_;
        if (waylandDisplay_.empty() || xDisplay_.empty()) {
            error_ = "the compositor did not come up; its output:\n" + compositor.err();
            waylandDisplay_.clear();
        }
    }

    static constexpr const char* kXSockets = "/tmp/.X11-unix";

    std::optional<RunAs> user_;
    TempDir runtime_;
    std::string waylandDisplay_;
    std::string xDisplay_;
    std::string error_;
};

}  // namespace camsteer::e2e
