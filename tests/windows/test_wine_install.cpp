// The installer under Wine: the programs, their pictures and the Start-menu entries where a
// user's own programs go, and an uninstaller that takes them away again.

#include <glob.h>

#include <gtest/gtest.h>

#include "wine_bed.hpp"

namespace camsteer::windows {
namespace {

// The first file matching `pattern`, or "".
std::string found(const std::string& pattern) {
    glob_t matches{};
    std::string first;
    if (::glob(pattern.c_str(), 0, nullptr, &matches) == 0 && matches.gl_pathc > 0) {
        first = matches.gl_pathv[0];
    }
    ::globfree(&matches);
    return first;
}

TEST(WineInstaller, InstallsWithMenuEntriesAndUninstalls) {
    const std::string setup =
        std::string("camsteer-") + CAMSTEER_VERSION + "-windows-x64-setup.exe";
    const std::unique_ptr<WineBed> bed = wineBedFor({setup});
    if (!bed) {
        return;
    }
    // The prefix's user folder, whatever the user is called.
    const std::string users = *bed->env().at("WINEPREFIX") + "/drive_c/users/*/AppData/";
    const std::string programs = "Local/Programs/camsteer/";
    const std::string menu = "Roaming/Microsoft/Windows/Start Menu/Programs/camsteer/";
    const std::string files[] = {
        programs + "camsteer.exe",
        programs + "camsteer_d.exe",
        programs + "camsteer_replay.exe",
        programs + "demo.avi",
        programs + "images/arrow_default.bmp",
        programs + "images/sample_blue.png",
        menu + "camsteer.lnk",
        menu + "camsteer demo.lnk",
    };

    const Finished installed = bed->run(setup, {"/S"});
    ASSERT_TRUE(installed.status.has_value()) << "the installer did not end";
    EXPECT_EQ(installed.status->describe(), "exit status 0") << installed.err;
    for (const std::string& file : files) {
        EXPECT_NE(found(users + file), "") << file << " not installed";
    }

    const std::string folder = found(users + programs + "camsteer.exe");
    ASSERT_NE(folder, "");
    const std::string dir = folder.substr(0, folder.rfind('/'));
    Process version("wine", {dir + "/camsteer.exe", "--version"}, bed->env(), dir,
                    bed->dir().path());
    ASSERT_TRUE(version.wait().has_value());
    EXPECT_EQ(version.out(), std::string("camsteer ") + CAMSTEER_VERSION + "\r\n");

    // "_?=" runs the uninstaller in place, and waits for it.
    Process uninstall("wine", {dir + "/uninstall.exe", "/S", "_?=" + winePath(dir)}, bed->env(),
                      dir, bed->dir().path());
    const std::optional<ExitStatus> removed = uninstall.wait();
    ASSERT_TRUE(removed.has_value()) << "the uninstaller did not end";
    EXPECT_EQ(removed->describe(), "exit status 0") << uninstall.err();
    for (const std::string& file : files) {
        EXPECT_EQ(found(users + file), "") << file << " left behind";
    }
}

}  // namespace
}  // namespace camsteer::windows
