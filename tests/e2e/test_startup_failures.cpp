// Command lines of the real programs that end without a run: the options answered at once and
// the start-up failures, each with its output in the right place and the right status, before
// any window is opened where that is possible.

#include <glob.h>

#include <algorithm>

#include "harness.hpp"

namespace camsteer::e2e {
namespace {

const char* const kPrograms[] = {"camsteer", "camsteer_d", "camsteer_replay"};

bool cameraPresent() {
    glob_t found{};
    const bool any = glob("/dev/video*", 0, nullptr, &found) == 0 && found.gl_pathc > 0;
    globfree(&found);
    return any;
}

class StartupFailures : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        clip_ = makeHoldClip(dir_, "ball.avi", 50, 50, 45, 5);
        ASSERT_FALSE(clip_.empty()) << "camsteer_make_clip failed";
        missing_ = dir_.file("no such picture.png");
        folder_ = dir_.file("a folder.png");
        ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
        empty_ = dir_.file("empty.png");
        writeFile(empty_, "");
        fifo_ = dir_.file("pipe.png");
        ASSERT_EQ(mkfifo(fifo_.c_str(), 0600), 0);  // opened to read, it would wait for ever
        text_ = dir_.file("notes.png");
        writeFile(text_, "not a picture\nat all\n");
        truncated_ = dir_.file("truncated.avi");
        writeFile(truncated_, readFile(clip_).substr(0, 3000));  // the header and no frame
        x_->watchTopLevels();
    }

    // The arguments that make `program` get as far as it can with `picture` as the reference.
    std::vector<std::string> argsWith(const std::string& program, const std::string& picture) {
        std::vector<std::string> args{picture};
        if (program == "camsteer_replay") {
            args.push_back(clip_);
        }
        return args;
    }

    std::string clip_;
    std::string missing_;
    std::string folder_;
    std::string empty_;
    std::string fifo_;
    std::string text_;
    std::string truncated_;
};

// What such a run must look like.
struct Expected {
    Expected(std::string out, size_t errMin, size_t errMax, bool windowsAllowed, int status = 1,
             bool outPrefix = false, std::string errHas = "")
        : out(std::move(out)),
          errMin(errMin),
          errMax(errMax),
          windowsAllowed(windowsAllowed),
          status(status),
          outPrefix(outPrefix),
          errHas(std::move(errHas)) {}
    std::string out;      // standard output, exactly (or how it starts, with outPrefix)
    size_t errMin;        // diagnostic lines on standard error, at least
    size_t errMax;        // and at most
    bool windowsAllowed;  // whether the failure is only found once the windows are up
    int status;
    bool outPrefix;
    std::string errHas;  // standard error names this
};

struct Case {
    std::string what;
    std::string program;
    std::vector<std::string> args;
    EnvChanges env;
    Expected expected;
    std::string cwd = sourcePath("");
};

TEST_F(StartupFailures, CommandLinesEndWithTheirOutputAndStatus) {
    const EnvChanges onXvfb = env();
    EnvChanges noDisplay = sessionEnv(std::nullopt);
    EnvChanges deadDisplay = sessionEnv(":99999");

    // A name as the programs show it: quoted, as ls does, when it holds a space.
    const auto shown = [](const std::string& name) {
        return name.find(' ') == std::string::npos ? name : "'" + name + "'";
    };
    std::vector<Case> cases;
    for (const std::string program : kPrograms) {
        cases.push_back({"no argument",
                         program,
                         {},
                         onXvfb,
                         {"No histogram source image specified.\n", 0, 0, false}});
        for (const auto& [what, picture] :
             std::vector<std::pair<std::string, std::string>>{{"missing picture", missing_},
                                                              {"picture is a folder", folder_},
                                                              {"empty picture file", empty_},
                                                              {"picture is a FIFO", fifo_},
                                                              {"text file as picture", text_}}) {
            cases.push_back({what,
                             program,
                             argsWith(program, picture),
                             onXvfb,
                             {"Couldn't load histogram: " + shown(picture) + "\n", 1, 1, false}});
        }
        cases.push_back({"DISPLAY unset",
                         program,
                         argsWith(program, sampleBlue()),
                         noDisplay,
                         {"", 1, 1, false}});
        cases.push_back({"DISPLAY names no server",
                         program,
                         argsWith(program, sampleBlue()),
                         deadDisplay,
                         {"", 1, 1, false}});

        const std::string usage = "Usage: " + program + " [OPTION]... ";
        for (const char* help : {"--help", "-h"}) {
            cases.push_back({help, program, {help}, onXvfb, {usage, 0, 0, false, 0, true}});
        }
        cases.push_back({"--version",
                         program,
                         {"--version"},
                         noDisplay,
                         {program + " " + CAMSTEER_VERSION + "\n", 0, 0, false, 0}});
        cases.push_back({"unknown option",
                         program,
                         argsWith(program, "--bogus"),
                         onXvfb,
                         {"", 1, 1, false, 2, false, "--bogus"}});
        // Keys and steadiness that cannot work: one line naming what, before anything opens.
        for (const auto& [option, named] : std::vector<std::pair<std::string, std::string>>{
                 {"--keys=up=nosuch", "'nosuch'"},
                 {"--keys=up=w,down=w", "key w is bound to both up and down"},
                 {"--keys=back=Shift_L", "Shift_L is a modifier"},
                 {"--steady=21", "--steady 21"}}) {
            std::vector<std::string> args = argsWith(program, sampleBlue());
            args.insert(args.begin(), option);
            cases.push_back({option, program, args, onXvfb, {"", 1, 1, false, 2, false, named}});
        }
        cases.push_back({"--learn into a picture type that cannot be written",
                         program,
                         argsWith(program, "--learn=" + dir_.file("taught.nosuchtype")),
                         onXvfb,
                         {"", 1, 1, false, 1, false, "taught.nosuchtype"}});
        std::vector<std::string> learnText = argsWith(program, text_);
        learnText.insert(learnText.begin(), "--learn");
        cases.push_back({"--learn from a saved file that is no picture",
                         program,
                         learnText,
                         onXvfb,
                         {"Couldn't load histogram: " + text_ + "\n", 0, 1, false}});
        // Unset, empty or relative, HOME names no folder: nothing may be saved under
        // /.local/share or wherever the program was started.
        for (const std::optional<std::string>& home :
             {std::optional<std::string>(), std::optional<std::string>(""),
              std::optional<std::string>("relative")}) {
            EnvChanges homeless = onXvfb;
            homeless["HOME"] = home;
            homeless["XDG_DATA_HOME"] = std::nullopt;
            cases.push_back({"--learn with HOME " + (home ? "'" + *home + "'" : "unset"),
                             program,
                             program == "camsteer_replay"
                                 ? std::vector<std::string>{"--learn", clip_}
                                 : std::vector<std::string>{"--learn"},
                             homeless,
                             {"", 1, 1, false, 1, false, "HOME"}});
        }
    }
    for (const std::string program : {"camsteer", "camsteer_d"}) {
        for (const char* value : {"0", "first"}) {
            cases.push_back({std::string("--camera ") + value,
                             program,
                             {"--camera", value, sampleBlue()},
                             onXvfb,
                             {"", 1, 1, false, 2, false, value}});
        }
        for (const char* node : {"/dev/null", "/dev/no-such-video"}) {
            cases.push_back({std::string("--camera ") + node,
                             program,
                             {"--camera", node, sampleBlue()},
                             onXvfb,
                             {"", 1, 1, true, 1, false, node}});
        }
        if (!cameraPresent()) {
            cases.push_back({"--list-cameras without a camera",
                             program,
                             {"--list-cameras"},
                             noDisplay,
                             {"", 1, 1, false, 1, false, "no camera"}});
        }
    }
    cases.push_back({"--camera for a clip",
                     "camsteer_replay",
                     {"--camera", "1", sampleBlue(), clip_},
                     onXvfb,
                     {"", 1, 1, false, 2, false, "--camera"}});
    EnvChanges scratchHome = onXvfb;
    scratchHome["HOME"] = dir_.path();
    scratchHome["XDG_DATA_HOME"] = std::nullopt;
    cases.push_back(
        {"--learn without a clip", "camsteer_replay", {"--learn"}, scratchHome, {"", 1, 1, false}});
    cases.push_back(
        {"no clip argument", "camsteer_replay", {sampleBlue()}, onXvfb, {"", 1, 1, false}});
    for (const auto& [what, clip] : std::vector<std::pair<std::string, std::string>>{
             {"missing clip", dir_.file("no such clip.avi")},
             {"clip is a folder", folder_},
             {"empty clip file", empty_},
             {"text file as clip", text_},
             {"truncated clip", truncated_}}) {
        cases.push_back({what, "camsteer_replay", {sampleBlue(), clip}, onXvfb, {"", 1, 1, true}});
    }
    // Run from the build folder and from outside the checkout, the built program still finds
    // its arrow pictures: the one line is about the clip.
    for (const std::string& cwd : {binaryPath(""), dir_.path()}) {
        cases.push_back({"truncated clip, started in " + cwd,
                         "camsteer_replay",
                         {sampleBlue(), truncated_},
                         onXvfb,
                         {"", 1, 1, true, 1, false, truncated_},
                         cwd});
    }

    // The rows that must open no window run first. A program that ended may still have requests
    // the server has not carried out (it takes them in turns), so windows of a row that opens
    // some could be created while a later row runs and be counted against it.
    std::stable_partition(cases.begin(), cases.end(),
                          [](const Case& c) { return !c.expected.windowsAllowed; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program + ": " + c.what);
        const int windowsBefore = x_->topLevelsCreated();
        const Finished run = runToEnd(programPath(c.program), c.args, c.env, c.cwd, dir_.path());
        ASSERT_TRUE(run.status.has_value()) << "did not end";
        EXPECT_TRUE(run.status->exited() && run.status->code() == c.expected.status)
            << run.status->describe() << "\nstderr:\n"
            << run.err;
        if (c.expected.outPrefix) {
            EXPECT_EQ(run.out.substr(0, c.expected.out.size()), c.expected.out) << run.out;
        } else {
            EXPECT_EQ(run.out, c.expected.out);
        }
        EXPECT_NE(run.err.find(c.expected.errHas), std::string::npos) << run.err;
        const std::vector<std::string> diagnostics = diagnosticLines(run.err);
        EXPECT_GE(diagnostics.size(), c.expected.errMin) << "stderr:\n" << run.err;
        EXPECT_LE(diagnostics.size(), c.expected.errMax) << "stderr:\n" << run.err;
        for (const std::string& line : diagnostics) {
            EXPECT_EQ(line.rfind(c.program + ": ", 0), 0u) << "stderr:\n" << run.err;
        }
        if (!c.expected.windowsAllowed) {
            EXPECT_EQ(x_->topLevelsCreated(), windowsBefore) << "a window was opened";
        }
    }
}

// Two programs sending keys to one display would press and release against each other: while
// one runs, the next one to start says who runs and ends, before opening any window.
TEST_F(StartupFailures, ASecondKeySenderOnTheDisplayIsRefused) {
    Process first(programPath("camsteer_replay"), {sampleBlue(), clip_}, env(), sourcePath(""),
                  dir_.path());
    ProgramWindows windows;
    ASSERT_TRUE(waitForWindows(windows)) << first.err();
    const std::string display = xvfb_->display();
    // The second may name the same server another way.
    const std::pair<std::string, std::string> seconds[] = {{"camsteer", display},
                                                           {"camsteer_replay", display},
                                                           {"camsteer_replay", display + ".0"},
                                                           {"camsteer_replay", "unix" + display}};
    const auto refused = [&](const std::string& program, const EnvChanges& changes,
                             const std::string& line) {
        const int windowsBefore = x_->topLevelsCreated();
        const Finished second = runToEnd(programPath(program), argsWith(program, sampleBlue()),
                                         changes, sourcePath(""), dir_.path());
        ASSERT_TRUE(second.status.has_value()) << "did not end";
        EXPECT_TRUE(second.status->exited() && second.status->code() == 1)
            << second.status->describe();
        EXPECT_EQ(second.out, "");
        EXPECT_EQ(diagnosticLines(second.err), std::vector<std::string>{program + ": " + line});
        EXPECT_EQ(x_->topLevelsCreated(), windowsBefore) << "a window was opened";
    };
    for (const auto& [program, spelling] : seconds) {
        SCOPED_TRACE(program + " on " + spelling);
        // Newer X libraries (libxcb 1.17, Debian 13) no longer take "unix:N" at all; there no
        // program can be given the server under that name.
        Display* const byThatName = XOpenDisplay(spelling.c_str());
        if (byThatName == nullptr) {
            std::printf("note: this X library does not open %s; that spelling is not tried\n",
                        spelling.c_str());
            continue;
        }
        XCloseDisplay(byThatName);
        EnvChanges changes = env();
        changes["DISPLAY"] = spelling;
        refused(program, changes,
                "camsteer_replay (pid " + std::to_string(first.pid()) +
                    ") already sends keys on display " + spelling +
                    "; end it first (Escape in its window), then start again");
    }
    EXPECT_TRUE(first.running()) << "the refusal must leave the running one alone";
    first.signal(SIGTERM);
    ASSERT_TRUE(first.wait().has_value());

    // Without a runtime folder the lock is in /tmp, where another user may have planted a link
    // at its name: the run is refused (never unlocked), and the link is not followed.
    SCOPED_TRACE("a link planted at the lock's name in /tmp");
    const std::string lock =
        "/tmp/camsteer-" + std::to_string(getuid()) + "-x" + display.substr(1) + ".lock";
    const std::string target = dir_.file("precious");
    writeFile(target, "keep me\n");
    unlink(lock.c_str());  // the lock file of an earlier run on this display number
    ASSERT_EQ(0, symlink(target.c_str(), lock.c_str())) << lock;
    EnvChanges noRuntime = env();
    noRuntime["XDG_RUNTIME_DIR"] = std::nullopt;
    refused("camsteer_replay", noRuntime,
            "cannot make sure no other camsteer sends keys on display " + display + ": " + lock +
                " is a link; remove it, or set XDG_RUNTIME_DIR to a folder of your own");
    EXPECT_EQ(readFile(target), "keep me\n");
    unlink(lock.c_str());
}

// camsteer and camsteer_d read camera number 1; without one they end at once.
TEST_F(StartupFailures, CameraProgramsWithoutACameraEndWithOneLine) {
    if (cameraPresent()) {
        GTEST_SKIP() << "this machine has a video device; the no-camera path cannot be reached";
    }
    for (const std::string program : {"camsteer", "camsteer_d"}) {
        SCOPED_TRACE(program);
        const Finished run =
            runToEnd(programPath(program), {sampleBlue()}, env(), sourcePath(""), dir_.path());
        ASSERT_TRUE(run.status.has_value()) << "did not end";
        EXPECT_TRUE(run.status->exited() && run.status->code() == 1) << run.status->describe();
        EXPECT_EQ(run.out, "");
        const std::vector<std::string> diagnostics = diagnosticLines(run.err);
        ASSERT_EQ(diagnostics.size(), 1u) << "stderr:\n" << run.err;
        EXPECT_NE(diagnostics[0].find("camera"), std::string::npos) << diagnostics[0];
    }
}

}  // namespace
}  // namespace camsteer::e2e
