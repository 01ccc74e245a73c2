#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "app/session/instance_lock.hpp"

namespace camsteer {
namespace {

// A run holding the lock is killed: while it lives a second start is refused and told who
// holds it; once it is gone (SIGKILL, no chance to clean up) the next start goes ahead.
TEST(InstanceLock, RefusesWhileAnotherRunHoldsItAndNotAfterItWasKilled) {
    char pattern[] = "/tmp/camsteer-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const char* const savedRuntime = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = savedRuntime != nullptr ? savedRuntime : "";
    setenv("XDG_RUNTIME_DIR", pattern, 1);
    EXPECT_EQ(0u, InstanceLock::path().rfind(std::string(pattern) + "/camsteer-", 0))
        << InstanceLock::path();

    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    const pid_t other = fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        InstanceLock lock;
        std::string holder;
        const char taken = lock.take("camsteer_replay", holder) ? 'y' : 'n';
        if (write(ready[1], &taken, 1) != 1) {
            _exit(1);
        }
        pause();
        _exit(0);
    }
    char taken = 0;
    ASSERT_EQ(1, read(ready[0], &taken, 1));
    ASSERT_EQ('y', taken);

    std::string holder;
    {
        InstanceLock second;
        EXPECT_FALSE(second.take("camsteer", holder));
        EXPECT_EQ("camsteer_replay (pid " + std::to_string(other) + ")", holder);
    }
    kill(other, SIGKILL);
    waitpid(other, nullptr, 0);
    InstanceLock next;
    EXPECT_TRUE(next.take("camsteer", holder));

    close(ready[0]);
    close(ready[1]);
    savedRuntime != nullptr ? setenv("XDG_RUNTIME_DIR", saved.c_str(), 1)
                            : unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace camsteer
