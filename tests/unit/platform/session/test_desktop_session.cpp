#include <string>

#include <gtest/gtest.h>

#include "app/options.hpp"
#include "platform/session/desktop_session.hpp"
#include "tests/common/env_override.hpp"

namespace camsteer {
namespace {

// The session as the environment gives it: an unset and an empty variable alike are not set.
TEST(DesktopSession, ReadsTheEnvironment) {
    test::EnvOverride env{{"DISPLAY", ":5"},
                          {"WAYLAND_DISPLAY", ""},
                          {"XDG_SESSION_TYPE", nullptr},
                          {"XDG_RUNTIME_DIR", "/run/user/5"},
                          {"QT_QPA_PLATFORM", "wayland;xcb"},
                          {"XDG_DATA_HOME", "/data"},
                          {"XDG_STATE_HOME", nullptr},
                          {"HOME", "/home/u"}};
    const DesktopSession session = readDesktopSession();
    EXPECT_EQ(session.x11Display, ":5");
    EXPECT_FALSE(session.hasWayland());
    EXPECT_EQ(session.sessionType, "");
    EXPECT_EQ(session.runtimeDir, "/run/user/5");
    EXPECT_EQ(session.toolkitPlatform, "wayland;xcb");
    EXPECT_EQ(session.dataHome, "/data");
    EXPECT_EQ(session.stateHome, "/home/u/.local/state");
    EXPECT_EQ(defaultLearnPath(session), "/data/camsteer/reference.png");
    EXPECT_EQ(defaultLearnPath(DesktopSession{}), "");
}

// The user's folders: an absolute XDG folder, else the one under an absolute HOME; a relative
// XDG folder is invalid and ignored, and a HOME that names no folder gives none (never
// /.local/share or the working folder).
TEST(DesktopSession, UserFoldersFollowTheBaseDirectoryRules) {
    struct Case {
        const char* xdg;
        const char* home;
        const char* folder;
    };
    const Case cases[] = {
        {"/d", "/h", "/d"},
        {nullptr, "/h", "/h/.local/share"},
        {"relative", "/h", "/h/.local/share"},
        {"", "/h", "/h/.local/share"},
        {nullptr, "", ""},
        {nullptr, "relative", ""},
        {nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(userFolder(c.xdg, c.home, ".local/share"), c.folder)
            << (c.xdg ? c.xdg : "-") << " " << (c.home ? c.home : "-");
    }
}

}  // namespace
}  // namespace camsteer
