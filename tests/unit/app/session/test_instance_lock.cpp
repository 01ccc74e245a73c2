#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "app/session/instance_lock.hpp"

namespace camsteer {
namespace {

// A display number of this test's own, so that parallel runs never share a lock file.
std::string ownDisplay() {
    return ":" + std::to_string(50000 + ::getpid() % 10000);
}

// A session with these values (nullptr: not set).
DesktopSession sessionOf(const char* display, const char* wayland, const char* runtimeDir) {
    DesktopSession session;
    session.x11Display = display != nullptr ? display : "";
    session.waylandDisplay = wayland != nullptr ? wayland : "";
    session.runtimeDir = runtimeDir != nullptr ? runtimeDir : "";
    return session;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A run holding the lock is killed: while it lives a second start is refused and told who
// holds it, however the second names the same display; once it is gone (SIGKILL, no chance to
// clean up) the next start goes ahead.
TEST(InstanceLock, RefusesWhileAnotherRunHoldsItAndNotAfterItWasKilled) {
    char pattern[] = "/tmp/camsteer-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string display = ownDisplay();
    EXPECT_EQ(0u,
              InstanceLock::path(lockFolder(pattern, ::getuid()),
                                 lockedDisplays(sessionOf(display.c_str(), nullptr, pattern))[0])
                  .rfind(std::string(pattern) + "/camsteer-", 0));

    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    const pid_t other = fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        InstanceLock lock;
        std::string refusal;
        const char taken =
            lock.take("camsteer_replay", sessionOf(display.c_str(), nullptr, pattern), refusal)
                ? 'y'
                : 'n';
        if (write(ready[1], &taken, 1) != 1) {
            _exit(1);
        }
        pause();
        _exit(0);
    }
    char taken = 0;
    ASSERT_EQ(1, read(ready[0], &taken, 1));
    ASSERT_EQ('y', taken);

    std::string refusal;
    for (const std::string& same : {display, display + ".0", "unix" + display,
                                    "localhost" + display + ".1", "unix/" + display}) {
        InstanceLock second;
        EXPECT_FALSE(second.take("camsteer", sessionOf(same.c_str(), nullptr, pattern), refusal))
            << same;
        EXPECT_EQ("camsteer_replay (pid " + std::to_string(other) + ") already sends keys on " +
                      "display " + same + "; end it first (Escape in its window), then start again",
                  refusal);
    }
    kill(other, SIGKILL);
    waitpid(other, nullptr, 0);
    InstanceLock next;
    EXPECT_TRUE(next.take("camsteer", sessionOf(display.c_str(), nullptr, pattern), refusal))
        << refusal;

    close(ready[0]);
    close(ready[1]);
    std::filesystem::remove_all(pattern);
}

// One server, one identity, however DISPLAY or WAYLAND_DISPLAY name it; another host's server
// or another number is another server. A Wayland session with Xwayland locks both.
TEST(InstanceLock, KeysByTheDisplayServer) {
    char host[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(0, gethostname(host, sizeof(host) - 1));
    const char* const serverSeventyOne[] = {
        ":71", ":71.0", "unix:71", "localhost:71.2", "unix/:71", "/tmp/.X11-unix/X71:71", ":071"};
    for (const char* same : serverSeventyOne) {
        EXPECT_EQ("x71", lockedDisplays(sessionOf(same, nullptr, nullptr))[0].key) << same;
    }
    EXPECT_EQ(
        "x71",
        lockedDisplays(sessionOf((std::string(host) + ":71").c_str(), nullptr, nullptr))[0].key);
    for (const char* other : {":72", "otherhost:71", "otherhost:71.0"}) {
        EXPECT_NE("x71", lockedDisplays(sessionOf(other, nullptr, nullptr))[0].key) << other;
    }
    EXPECT_EQ(lockedDisplays(sessionOf("otherhost:71", nullptr, nullptr))[0].key,
              lockedDisplays(sessionOf("otherhost:71.0", nullptr, nullptr))[0].key);

    const auto wayland = [](const char* name, const char* runtime) {
        return lockedDisplays(sessionOf(nullptr, name, runtime))[0].key;
    };
    EXPECT_EQ(wayland("wayland-1", "/run/user/7"), wayland("/run/user/7/wayland-1", nullptr));
    EXPECT_NE(wayland("wayland-1", "/run/user/7"), wayland("wayland-1", "/run/user/8"));
    const std::vector<LockedDisplay> both =
        lockedDisplays(sessionOf(":3", "wayland-1", "/run/user/7"));
    ASSERT_EQ(2u, both.size());
    EXPECT_EQ("Wayland display wayland-1", both[0].name);
    EXPECT_EQ("display :3", both[1].name);
    EXPECT_EQ("the console", lockedDisplays(sessionOf(nullptr, "", nullptr))[0].name);
}

// The runtime folder is used only when it is ours and nobody else may write to it; otherwise
// the lock goes to /tmp.
TEST(InstanceLock, UsesOnlyARuntimeFolderOfOurOwn) {
    char pattern[] = "/tmp/camsteer-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string base = pattern;
    const uid_t me = ::getuid();
    const uid_t someoneElse = me == 0 ? 65534 : 0;
    struct Case {
        const char* what;
        mode_t mode;  // 0: no folder, a file instead
        bool ownedByUs;
        bool used;
    };
    const Case cases[] = {{"ours, 0700", 0700, true, true},
                          {"ours, others may write", 0777, true, false},
                          {"another user's, 0700", 0700, false, false},
                          {"a file", 0, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = base + "/" + std::to_string(&c - cases);
        if (c.mode == 0) {
            std::ofstream(folder) << "";
        } else {
            ASSERT_EQ(0, mkdir(folder.c_str(), c.mode));
            ASSERT_EQ(0, chmod(folder.c_str(), c.mode));
        }
        // The other user's folder: ours given to someone else (as root), or ours judged as that
        // user's.
        const uid_t asked = c.ownedByUs ? me : someoneElse;
        EXPECT_EQ(c.used ? folder : "", lockFolder(folder, asked));
    }
    EXPECT_EQ("", lockFolder("relative/folder", me));
    EXPECT_EQ("", lockFolder("", me));
    std::filesystem::remove_all(pattern);
}

// Without a runtime folder the lock lives in /tmp, where anyone may plant something at its name
// first. The lock never follows a link nor writes into another name's file, and a run never
// goes on unlocked: it is refused with one line that names the file and the way out.
TEST(InstanceLock, RefusesWhatWasPlantedAtItsNameInTmp) {
    char pattern[] = "/tmp/camsteer-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string target = std::string(pattern) + "/precious";
    const std::string display = ownDisplay();
    const std::string lock =
        InstanceLock::path("", lockedDisplays(sessionOf(display.c_str(), nullptr, nullptr))[0]);
    ASSERT_EQ(0u, lock.rfind("/tmp/camsteer-", 0)) << lock;
    struct Case {
        const char* what;
        std::function<void()> plant;
        const char* said;
    };
    const Case cases[] = {
        {"a link to a file", [&] { symlink(target.c_str(), lock.c_str()); }, "is a link"},
        {"a dangling link", [&] { symlink((target + ".new").c_str(), lock.c_str()); }, "is a link"},
        {"a hard link to a file", [&] { link(target.c_str(), lock.c_str()); }, "other names"},
        {"a FIFO", [&] { mkfifo(lock.c_str(), 0600); }, "not a plain file"},
        {"a folder", [&] { mkdir(lock.c_str(), 0700); }, "not a plain file"},
        // Only root can give a file away; to anyone else another user's file in /tmp is one it
        // may not write, which a read-only file of its own stands for.
        {"another user's file",
         [&] {
             std::ofstream(lock) << "";
             if (::getuid() == 0) {
                 chown(lock.c_str(), 65534, static_cast<gid_t>(-1));
             } else {
                 chmod(lock.c_str(), 0400);
             }
         },
         ::getuid() == 0 ? "another user" : "cannot be opened"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(target) << "keep me\n";
        c.plant();
        InstanceLock planted;
        std::string refusal;
        EXPECT_FALSE(
            planted.take("camsteer_replay", sessionOf(display.c_str(), nullptr, nullptr), refusal));
        EXPECT_NE(std::string::npos, refusal.find(": " + lock + " ")) << refusal;
        EXPECT_NE(std::string::npos, refusal.find(c.said)) << refusal;
        EXPECT_NE(std::string::npos, refusal.find("display " + display)) << refusal;
        EXPECT_NE(std::string::npos, refusal.find("XDG_RUNTIME_DIR")) << refusal;
        EXPECT_EQ(std::string::npos, refusal.find('\n')) << refusal;
        EXPECT_EQ("keep me\n", readAll(target));
        EXPECT_FALSE(std::filesystem::exists(target + ".new"));
        std::filesystem::remove_all(lock);
    }
    // Nothing planted: the lock is taken in /tmp and names its holder.
    InstanceLock clean;
    std::string refusal;
    EXPECT_TRUE(
        clean.take("camsteer_replay", sessionOf(display.c_str(), nullptr, nullptr), refusal))
        << refusal;
    EXPECT_EQ(std::to_string(::getpid()) + " camsteer_replay\n", readAll(lock));
    std::filesystem::remove(lock);
    std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace camsteer
