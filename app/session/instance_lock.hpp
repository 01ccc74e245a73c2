#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/session/desktop_session.hpp"

namespace camsteer {

// A display server keys can go to, as the lock knows it.
struct LockedDisplay {
    std::string key;   // the server's identity, as a file-name part: "x71", "wayland-_run_..."
    std::string name;  // for messages: "display :71.0", "Wayland display wayland-0"
};

// The display servers a run in `session` sends keys to: the Wayland compositor (its socket, the
// Wayland display resolved against the runtime folder as the client library does) and
// the X server, since keys sent into Xwayland reach the same desktop; "the console" when there
// is neither. One X server has one identity however DISPLAY names it: ":71", ":71.0", "unix:71",
// "localhost:71", this machine's own host name and "/tmp/.X11-unix/X71" are all server 71 here.
// Another host's server is another server.
std::vector<LockedDisplay> lockedDisplays(const DesktopSession& session);

// The folder the lock files go in: `runtimeDir` when it is a folder of `uid`'s that nobody else
// may write to. Otherwise "" and the lock goes to /tmp, in files named after the uid: a runtime
// folder left over from another user (su, sudo -E) must not decide whether a lock is taken.
std::string lockFolder(const std::string& runtimeDir, unsigned uid);

// One key-sending instance per display server: two would press and release the same keys
// against each other. The lock is an flock on a file per server the run sends keys to (see
// lockedDisplays), in the lock folder or /tmp; the kernel drops it with the process however
// that ends, so a killed run never blocks the next start.
// On Windows the lock is a named mutex of the desktop session (one keyboard input), which
// Windows likewise removes with the process; the refusal then says "on this desktop".
class InstanceLock {
  public:
    // Takes the lock of every display server a run in `session` sends keys to, for
    // `program`. False, with the one line to say in `refusal`, when another instance holds one
    // ("camsteer_replay (pid 1234) already sends keys on display :0; ...") or a lock file
    // cannot be used safely (a link or another user's file planted in /tmp): a run never goes
    // on unlocked.
    bool take(const char* program, const DesktopSession& session, std::string& refusal);
    ~InstanceLock();

    // The lock file for a display server in this folder ("" for /tmp).
    static std::string path(const std::string& folder, const LockedDisplay& server);

  private:
    bool takeOne(const char* program, const std::string& file, const LockedDisplay& server,
                 std::string& refusal);

    std::vector<std::intptr_t> held_;  // lock files (Linux), handles (Windows)
};

}  // namespace camsteer
