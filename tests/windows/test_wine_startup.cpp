// The Windows programs' command lines that end without a run, under Wine: the same output,
// diagnostics and statuses as on Linux.

#include <gtest/gtest.h>

#include "wine_bed.hpp"

namespace camsteer::windows {
namespace {

struct StartCase {
    std::string what;
    std::vector<std::string> args;
    int status;
    std::string out;  // standard output, exactly (or how it starts, with outPrefix)
    bool outPrefix;
    size_t errLines;     // diagnostic lines on standard error
    std::string errHas;  // and what they name
};

TEST(WineStartup, CommandLinesEndWithTheirOutputAndStatus) {
    const std::unique_ptr<WineBed> bed = wineBedFor({"camsteer.exe"});
    if (!bed) {
        return;
    }
    const std::string missing = winePath(bed->dir().file("no-such-picture.png"));
    std::vector<StartCase> cases = {
        {"no argument", {}, 1, "No histogram source image specified.\n", false, 0, ""},
        {"unreadable reference",
         {missing},
         1,
         "Couldn't load histogram: ",
         true,
         1,
         "no-such-picture.png"},
        {"--help", {"--help"}, 0, "Usage: camsteer [OPTION]... ", true, 0, ""},
        {"--version",
         {"--version"},
         0,
         std::string("camsteer ") + CAMSTEER_VERSION + "\n",
         false,
         0,
         ""},
        {"unknown option", {"--bogus", winePath(sampleBlue())}, 2, "", false, 1, "--bogus"},
    };
    // Wine offers this machine's cameras to DirectShow.
    if (access("/dev/video0", F_OK) != 0) {
        cases.push_back({"no camera", {winePath(sampleBlue())}, 1, "", false, 1, "camera"});
    }
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Finished done = bed->run("camsteer.exe", c.args);
        ASSERT_TRUE(done.status.has_value()) << "did not end";
        EXPECT_EQ(done.status->describe(), "exit status " + std::to_string(c.status)) << done.err;
        EXPECT_EQ(c.outPrefix ? done.out.substr(0, c.out.size()) : done.out, c.out);
        const std::vector<std::string> errors = lines(done.err);
        EXPECT_EQ(errors.size(), c.errLines) << done.err;
        for (const std::string& line : errors) {
            EXPECT_EQ(line.rfind("camsteer: ", 0), 0u) << line;
            EXPECT_NE(line.find(c.errHas), std::string::npos) << line;
        }
    }
}

// One instance per desktop session: a second one says who holds the keys and ends, leaving the
// first alone.
TEST(WineStartup, ASecondInstanceIsRefusedWhileTheFirstRuns) {
    const std::unique_ptr<WineBed> bed = wineBedFor({"camsteer.exe", "camsteer_replay.exe"});
    if (!bed) {
        return;
    }
    const std::string clip = makeHoldClip(bed->dir(), "ball.avi", 50, 50, 45, 5);
    ASSERT_FALSE(clip.empty()) << "camsteer_make_clip failed";
    auto first = bed->start("camsteer_replay.exe", {winePath(sampleBlue()), winePath(clip)});
    ASSERT_TRUE(bed->x().waitForWindow("Camsteer", kStartBound)) << first->err();
    const Finished second = bed->run("camsteer.exe", {winePath(sampleBlue())});
    ASSERT_TRUE(second.status.has_value()) << "did not end";
    EXPECT_EQ(second.status->describe(), "exit status 1");
    EXPECT_EQ(second.out, "");
    const std::vector<std::string> errors = lines(second.err);
    ASSERT_EQ(errors.size(), 1u) << second.err;
    const std::string ending =
        ") already sends keys on this desktop; end it first (Escape in its window), then start "
        "again";
    EXPECT_EQ(errors[0].rfind("camsteer: camsteer_replay (pid ", 0), 0u) << errors[0];
    EXPECT_EQ(errors[0].substr(errors[0].size() - std::min(errors[0].size(), ending.size())),
              ending);
    EXPECT_TRUE(first->running()) << "the refusal must leave the running one alone";
}

}  // namespace
}  // namespace camsteer::windows
