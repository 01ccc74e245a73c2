// Reading the command line.

#include <algorithm>

#include <gtest/gtest.h>

#include "app/options.hpp"

namespace camsteer {
namespace {

using Action = CommandLine::Action;

TEST(CommandLineParse, Table) {
    struct Case {
        std::vector<const char*> args;
        bool clipProgram;
        Action action;
        std::string reference, learnPath, clip, cameraPath;
        int cameraNumber;
        bool showFailures;
        std::string keys = "";  // the bindings when --keys is given
        int steady = -1;        // when --steady is given
    };
    const std::string dflt = "/d/reference.png";
    const Case cases[] = {
        {{}, false, Action::Run, "", "", "", "", 1, false},
        {{"ref.png"}, false, Action::Run, "ref.png", "", "", "", 1, false},
        {{"ref.png", "extra"}, false, Action::Run, "ref.png", "", "", "", 1, false},
        {{"--", "-odd.png"}, false, Action::Run, "-odd.png", "", "", "", 1, false},
        {{"-"}, false, Action::Run, "-", "", "", "", 1, false},
        {{"ref.png", "--camera", "2"}, false, Action::Run, "ref.png", "", "", "", 2, false},
        {{"--camera=/dev/video4", "r"}, false, Action::Run, "r", "", "", "/dev/video4", 1, false},
        {{"--show-failures", "--learn"}, false, Action::Run, "", dflt, "", "", 1, true},
        {{"--learn", "out.png"}, false, Action::Run, "", "out.png", "", "", 1, false},
        {{"--learn=o.png", "x"}, false, Action::Run, "", "o.png", "", "", 1, false},
        {{"ref.png", "clip.avi"}, true, Action::Run, "ref.png", "", "clip.avi", "", 1, false},
        {{"--learn", "out.png", "c.avi"}, true, Action::Run, "", "out.png", "c.avi", "", 1, false},
        {{"--learn", "c.avi"}, true, Action::Run, "", dflt, "c.avi", "", 1, false},
        {{"ref.png", "-h"}, false, Action::Help, "", "", "", "", 1, false},
        {{"--help", "--bogus"}, true, Action::Help, "", "", "", "", 1, false},
        {{"--version"}, false, Action::Version, "", "", "", "", 1, false},
        {{"--list-cameras"}, false, Action::ListCameras, "", "", "", "", 1, false},
        {{"--bogus", "--help"}, false, Action::Usage, "", "", "", "", 1, false},
        {{"-x"}, false, Action::Usage, "", "", "", "", 1, false},
        {{"--camera"}, false, Action::Usage, "", "", "", "", 1, false},
        {{"--camera", "0"}, false, Action::Usage, "", "", "", "", 1, false},
        {{"--camera", "two"}, false, Action::Usage, "", "", "", "", 1, false},
        {{"--camera", "1", "r", "c"}, true, Action::Usage, "", "", "", "", 1, false},
        {{"--learn="}, false, Action::Usage, "", "", "", "", 1, false},
        {{"--help=yes"}, false, Action::Usage, "", "", "", "", 1, false},
        {{"--keys", "up=w,left=a", "r"},
         false,
         Action::Run,
         "r",
         "",
         "",
         "",
         1,
         false,
         "up=w,down=Down,left=a,right=Right,forward=KP_Add,back=KP_Subtract"},
        {{"--keys=back=space", "--steady=6", "r", "c"},
         true,
         Action::Run,
         "r",
         "",
         "c",
         "",
         1,
         false,
         "up=Up,down=Down,left=Left,right=Right,forward=KP_Add,back=space",
         6},
        {{"--steady", "0", "--learn"}, false, Action::Run, "", dflt, "", "", 1, false, "", 0},
        {{"--steady", "20", "r"}, false, Action::Run, "r", "", "", "", 1, false, "", 20},
        {{"--keys"}, false, Action::Usage, "", "", "", "", 1, false},
        {{"--keys", "up=nosuch", "r"}, false, Action::Usage, "", "", "", "", 1, false},
        {{"--keys=up=w,down=w", "r"}, false, Action::Usage, "", "", "", "", 1, false},
        {{"--keys", "forward=Shift_L", "r"}, false, Action::Usage, "", "", "", "", 1, false},
        {{"--steady", "21", "r"}, false, Action::Usage, "", "", "", "", 1, false},
        {{"--steady=-1", "r"}, false, Action::Usage, "", "", "", "", 1, false},
        {{"--steady", "six", "r"}, false, Action::Usage, "", "", "", "", 1, false},
        {{"r", "--steady"}, false, Action::Usage, "", "", "", "", 1, false},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"prog"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string trace;
        for (const char* a : c.args) {
            trace += std::string(a) + " ";
        }
        SCOPED_TRACE(trace);
        const CommandLine line =
            parseCommandLine(static_cast<int>(argv.size()), argv.data(), c.clipProgram, dflt);
        EXPECT_EQ(c.action, line.action);
        EXPECT_EQ(c.action == Action::Usage, !line.usageError.empty()) << line.usageError;
        if (c.action != Action::Run) {
            continue;
        }
        EXPECT_EQ(c.reference, line.reference);
        EXPECT_EQ(!c.learnPath.empty(), line.learn);
        EXPECT_EQ(c.learnPath, line.learnPath);
        EXPECT_EQ(c.clip, line.clip);
        EXPECT_EQ(c.cameraPath, line.cameraPath);
        EXPECT_EQ(c.cameraNumber, line.cameraNumber);
        EXPECT_EQ(c.showFailures, line.showFailures);
        EXPECT_EQ(!c.keys.empty(), line.keysGiven);
        EXPECT_EQ(c.keys.empty() ? KeyBindings().text() : c.keys, line.keys.text());
        EXPECT_EQ(c.steady >= 0, line.steadyGiven);
        EXPECT_EQ(std::max(c.steady, 0), line.steady);
    }
}

}  // namespace
}  // namespace camsteer
