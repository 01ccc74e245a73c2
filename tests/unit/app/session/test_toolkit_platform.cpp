#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "app/session/toolkit_platform.hpp"

namespace camsteer {
namespace {

// The toolkit platform chosen for each environment: the toolkit must never be handed one whose
// plugin is missing or whose display is not there (it aborts), and X11 comes first when there
// is a DISPLAY (Xwayland keeps the window placement).
TEST(ToolkitPlatform, ChoosesOneThatCanStart) {
    struct Case {
        const char* requested;
        const char* display;
        const char* wayland;
        std::set<std::string> installed;
        std::string chosen;  // "": none, and the reason contains `why`
        const char* why;
    };
    const std::set<std::string> xcbOnly = {"xcb"};
    const std::set<std::string> both = {"xcb", "wayland"};
    const Case cases[] = {
        {nullptr, ":0", nullptr, xcbOnly, "xcb", ""},
        {nullptr, ":0", "wayland-0", both, "xcb", ""},
        {"wayland", ":0", "wayland-0", xcbOnly, "xcb", ""},  // used to abort
        {"wayland", ":0", "wayland-0", both, "wayland", ""},
        {"wayland", nullptr, "wayland-0", xcbOnly, "", "qtwayland5"},
        {nullptr, nullptr, "wayland-0", both, "wayland", ""},
        {"xcb", nullptr, "wayland-0", both, "wayland", ""},
        {"wayland:nodecor;xcb", ":0", "wayland-0", xcbOnly, "xcb", ""},
        {"wayland-egl;xcb", ":0", "wayland-0", {"xcb", "wayland-egl"}, "wayland-egl", ""},
        {"offscreen", nullptr, nullptr, {"offscreen"}, "offscreen", ""},
        {"vnc", nullptr, nullptr, xcbOnly, "", "DISPLAY is not set"},
        {"", "", "", both, "", "DISPLAY is not set"},
        {nullptr, ":0", nullptr, {}, "", "libqxcb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.requested ? c.requested : "-") + " " +
                     (c.display ? c.display : "-") + " " + (c.wayland ? c.wayland : "-"));
        DesktopSession session;
        session.toolkitPlatform = c.requested != nullptr ? c.requested : "";
        session.x11Display = c.display != nullptr ? c.display : "";
        session.waylandDisplay = c.wayland != nullptr ? c.wayland : "";
        std::string why;
        const std::string chosen = chooseToolkitPlatform(
            session, [&](const std::string& name) { return c.installed.count(name) > 0; }, why);
        EXPECT_EQ(chosen, c.chosen);
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
        EXPECT_EQ(why.find('\n'), std::string::npos);
    }
    // This process's own toolkit, as installed here.
    EXPECT_TRUE(toolkitPluginInstalled("xcb"));
    EXPECT_FALSE(toolkitPluginInstalled("camsteer-no-such-platform"));
}

// A plugin the toolkit would load from a folder its variables name counts as installed: a
// Qt whose plugins live only there must not be refused.
TEST(ToolkitPlatform, FindsPluginsWhereTheToolkitsVariablesPoint) {
    char pattern[] = "/tmp/camsteer-plugins-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    std::filesystem::create_directories(dir + "/platforms");
    std::ofstream(dir + "/libqcamsteer-test.so") << "";
    std::ofstream(dir + "/platforms/libqcamsteer-other.so") << "";
    const struct {
        const char* variable;
        const char* platform;
    } cases[] = {{"QT_QPA_PLATFORM_PLUGIN_PATH", "camsteer-test"},
                 {"QT_PLUGIN_PATH", "camsteer-other"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variable);
        const char* saved = std::getenv(c.variable);
        const std::string keep = saved != nullptr ? saved : "";
        EXPECT_FALSE(toolkitPluginInstalled(c.platform));
        setenv(c.variable, dir.c_str(), 1);
        EXPECT_TRUE(toolkitPluginInstalled(c.platform));
        saved != nullptr ? setenv(c.variable, keep.c_str(), 1) : unsetenv(c.variable);
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace camsteer
