#pragma once

#include <string>

namespace camsteer {

// One key-sending instance per desktop session: two would press and release the same keys
// against each other. The lock is an flock on a file named after the session's display, in
// $XDG_RUNTIME_DIR (or /tmp, per user, when that is unset); the kernel drops it with the
// process however that ends, so a killed run never blocks the next start.
class InstanceLock {
  public:
    // The lock file for the session in this process's environment.
    static std::string path();
    // The session for messages: "display :0", "Wayland display wayland-0", "the console".
    static std::string sessionName();

    // Tries to take the session's lock for `program`. Returns false only when another instance
    // holds it; `holder` then names that one ("camsteer_replay (pid 1234)"). When no lock file
    // can be made at all, returns true without holding anything: a start is never refused for
    // want of a lock.
    bool take(const char* program, std::string& holder);
    ~InstanceLock();

  private:
    int fd_ = -1;
};

}  // namespace camsteer
