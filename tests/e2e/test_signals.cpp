// Ends from outside: stop signals at any moment of a run, every other way a run can be ended or
// stopped while keys are held, and the X server going away under it. No way may leave a
// steering key down.

#include <dirent.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "harness.hpp"

namespace camsteer::e2e {
namespace {

using StopSignals = ProgramTest;

TEST_F(StopSignals, EndEveryRunNormallyAtAnyMoment) {
    // The ball sits in the user's top-right cell, so Up and Right are held while it runs.
    const std::string clip = makeHoldClip(dir_, "ball.avi", 50, 50, 45);
    ASSERT_FALSE(clip.empty()) << "camsteer_make_clip failed";

    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    const unsigned seed = ::testing::UnitTest::GetInstance()->random_seed();
    std::mt19937 random(seed);
    // The first runs are signalled during start-up (while the libraries load, before the
    // handler is in place, and after it while the windows are being made), the rest anywhere
    // in the first second and a quarter.
    const int startupDelays[] = {0, 120, 180, 220, 260};
    std::uniform_int_distribution<int> anyDelay(0, 1250);
    for (int run = 0; run < 20; ++run) {
        const int signo = signals[run % 3];
        const int delayMs = run < 5 ? startupDelays[run] : anyDelay(random);
        SCOPED_TRACE("run " + std::to_string(run) + ": " + strsignal(signo) + " after " +
                     std::to_string(delayMs) + " ms (seed " + std::to_string(seed) + ")");

        auto program = startReplay(clip);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        const bool windowsUp = x_->window("Camsteer").has_value();
        program->signal(signo);
        const std::optional<ExitStatus> status = program->wait();
        ASSERT_TRUE(status.has_value()) << "the run did not end";
        if (status->signaled()) {
            // Only a signal that came before the handler was installed may end the process
            // itself, and the handler is in place long before any window.
            EXPECT_EQ(status->signal(), signo) << status->describe();
            EXPECT_FALSE(windowsUp) << "the signal ended the process itself after the windows";
        } else {
            EXPECT_EQ(status->code(), 128 + signo) << status->describe() << "\nstderr:\n"
                                                   << program->err();
        }
        EXPECT_EQ(program->out(), "");
        EXPECT_TRUE(steeringKeysDown(*x_).empty())
            << "left down: " << ::testing::PrintToString(steeringKeysDown(*x_));
    }
}

// The ways a run can end, stop or hold its keys back from outside while the ball holds Up and
// Left. None may leave a key down in the X server (read with the suite's own connection open,
// so the server does not reset when the program's connections go).
enum class Way {
    kSignal,
    kTerminalStop,
    kMainWindowDestroyed,
    kHangupUnderNohup,
    kOwnWindowFocused,
    kSourceLost,
    kAfterItsWatchdog,  // the key watchdog is killed first, then the program by `signo`
    kWithItsWatchdog,   // both by SIGKILL at once (`kill -9 PROGRAM WATCHDOG`)
    // the same, the watchdog not yet having read the first press (a busy machine): held back by
    // a stop from before the ball appears
    kWithItsWatchdogBehind
};

struct ExitPath {
    const char* name;
    Way way;
    int signo;
    bool killed;  // ended by `signo` itself, as without a handler; else it exits with `code`
    int code;
};

std::ostream& operator<<(std::ostream& os, const ExitPath& path) {
    return os << path.name;
}

// The process's state letter in /proc ('T' when stopped), or 0 when it is gone.
char processState(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 0;
}

// The first child process of `pid` (of any of its threads), or 0.
pid_t childOf(pid_t pid) {
    if (DIR* tasks = opendir(("/proc/" + std::to_string(pid) + "/task").c_str())) {
        pid_t child = 0;
        while (const dirent* task = readdir(tasks)) {
            std::istringstream children(
                readFile("/proc/" + std::to_string(pid) + "/task/" + task->d_name + "/children"));
            child = child != 0 || (children >> child) ? child : 0;
        }
        closedir(tasks);
        return child;
    }
    return 0;
}

class ExitPaths : public ProgramTest, public ::testing::WithParamInterface<ExitPath> {};

TEST_P(ExitPaths, LeaveNoKeyDown) {
    const ExitPath& path = GetParam();
    // The user's top-left cell: Up and Left are held.
    const bool behind = path.way == Way::kWithItsWatchdogBehind;
    const std::string clip = behind ? makeHoldClip(dir_, "late.avi", 270, 50, 45, 60, 30, 90)
                                    : makeHoldClip(dir_, "ball.avi", 270, 50, 45);
    ASSERT_FALSE(clip.empty()) << "camsteer_make_clip failed";
    auto program =
        path.way != Way::kHangupUnderNohup
            ? startReplay(clip)
            : std::make_unique<Process>(Launch{"nohup",
                                               {programPath("camsteer_replay"), sampleBlue(), clip},
                                               env(),
                                               sourcePath(""),
                                               std::nullopt},
                                        dir_.path());

    const auto upAndLeft = [&] {
        return steeringKeysDown(*x_) == std::vector<std::string>{"Up", "Left"};
    };
    const auto noneDown = [&] { return steeringKeysDown(*x_).empty(); };
    ProgramWindows windows;
    ASSERT_TRUE(waitForWindows(windows)) << program->err();
    if (behind) {  // once its guard runs, before the ball appears
        const pid_t watchdog = childOf(program->pid());
        ASSERT_GT(watchdog, 0) << "no watchdog runs";
        ASSERT_TRUE(pollUntil([&] { return childOf(watchdog) > 0; }, kStartBound)) << "no guard";
        ASSERT_TRUE(noneDown()) << "the ball came before the watchdog was stopped";
        kill(watchdog, SIGSTOP);
    }
    ASSERT_TRUE(pollUntil(upAndLeft, kStartBound))
        << "held: " << ::testing::PrintToString(steeringKeysDown(*x_)) << "\nstderr:\n"
        << program->err();

    switch (path.way) {
        case Way::kSignal:
            program->signal(path.signo);
            break;
        case Way::kTerminalStop: {
            program->signal(path.signo);
            ASSERT_TRUE(pollUntil([&] { return processState(program->pid()) == 'T'; }, kStartBound))
                << "it did not stop";
            EXPECT_TRUE(pollUntil(noneDown, kStartBound))
                << "held while stopped: " << ::testing::PrintToString(steeringKeysDown(*x_));
            // Stopped for longer than the stall bound: the stop must not count as a stall once
            // continued. What the keys do from here is recorded, so that a release and a second
            // press of the first frames' keys show, not only the keys held at the end.
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            KeyRecorder recorder(xvfb_->display());
            ASSERT_TRUE(recorder.ok());
            recorder.takeFocus();
            program->signal(SIGCONT);
            EXPECT_TRUE(pollUntil(upAndLeft, kStartBound))
                << "once continued, the next frame must press the keys again";
            recorder.waitFor([](const auto&) { return false; }, 800ms);
            EXPECT_EQ(recorder.describe(), "+Up +Left ") << "each key pressed once, held since";
            program->signal(SIGTERM);
            break;
        }
        case Way::kSourceLost:  // the clip's file emptied under it, as an unplugged camera
            // Once a few frames were played: the decoder would play an emptied clip from what it
            // read ahead while its first frames are all it has read.
            std::this_thread::sleep_for(1500ms);
            writeFile(clip, "");
            break;
        case Way::kHangupUnderNohup:  // the SIGHUP nohup ignores stays ignored
            program->signal(SIGHUP);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            EXPECT_TRUE(program->running() && upAndLeft()) << "SIGHUP was not ignored";
            program->signal(SIGTERM);
            break;
        case Way::kOwnWindowFocused:  // a click into a window of the program, then back out
            XSetInputFocus(x_->display(), windows.output, RevertToPointerRoot, CurrentTime);
            XSync(x_->display(), False);
            EXPECT_TRUE(pollUntil(noneDown, kStartBound))
                << "held while its own window has the focus: "
                << ::testing::PrintToString(steeringKeysDown(*x_));
            XSetInputFocus(x_->display(), PointerRoot, RevertToPointerRoot, CurrentTime);
            XSync(x_->display(), False);
            EXPECT_TRUE(pollUntil(upAndLeft, kStartBound))
                << "once the focus left, the next frame must press the keys again";
            program->signal(SIGTERM);
            break;
        case Way::kAfterItsWatchdog:
        case Way::kWithItsWatchdog:
        case Way::kWithItsWatchdogBehind: {
            const pid_t watchdog = childOf(program->pid());
            ASSERT_GT(watchdog, 0) << "no watchdog runs";
            if (path.way != Way::kAfterItsWatchdog) {
                program->signal(SIGKILL);
                kill(watchdog, SIGKILL);
                break;
            }
            kill(watchdog, SIGKILL);
            EXPECT_TRUE(pollUntil(
                [&] { return program->err().find("took its place") != std::string::npos; },
                kStartBound))
                << "the end of the watchdog went unnoticed; stderr:\n"
                << program->err();
            program->signal(path.signo);
            break;
        }
        case Way::kMainWindowDestroyed:
            XDestroyWindow(x_->display(), windows.camsteer);
            XSync(x_->display(), False);
            break;
    }
    const std::optional<ExitStatus> status = program->wait();
    ASSERT_TRUE(status.has_value()) << "the run did not end; stderr:\n" << program->err();
    if (path.killed) {
        EXPECT_TRUE(status->signaled() && status->signal() == path.signo) << status->describe();
    } else if (path.way == Way::kSourceLost) {
        EXPECT_TRUE(status->exited() && status->code() == path.code) << status->describe();
        const std::vector<std::string> said = diagnosticLines(program->err());
        EXPECT_EQ(said.empty() ? "" : said.back(),
                  "camsteer_replay: lost " + clip +
                      ": no frame for over a second; check its connection and start again");
    } else {
        EXPECT_TRUE(status->exited() && status->code() == path.code)
            << status->describe() << "\nstderr:\n"
            << program->err();
    }
    EXPECT_EQ(program->out(), "");
    // Killed, it leaves the release to its watchdog, a process of its own.
    EXPECT_TRUE(pollUntil(noneDown, kStartBound))
        << "left down: " << ::testing::PrintToString(steeringKeysDown(*x_)) << "\nstderr:\n"
        << program->err();
}

INSTANTIATE_TEST_SUITE_P(
    UpAndLeftHeld, ExitPaths,
    ::testing::Values(
        ExitPath{"Interrupt", Way::kSignal, SIGINT, false, 128 + SIGINT},
        ExitPath{"Terminate", Way::kSignal, SIGTERM, false, 128 + SIGTERM},
        ExitPath{"Hangup", Way::kSignal, SIGHUP, false, 128 + SIGHUP},
        ExitPath{"Quit", Way::kSignal, SIGQUIT, true, 0},
        ExitPath{"Abort", Way::kSignal, SIGABRT, true, 0},
        ExitPath{"SegmentationFault", Way::kSignal, SIGSEGV, true, 0},
        ExitPath{"BusError", Way::kSignal, SIGBUS, true, 0},
        ExitPath{"FloatingPointError", Way::kSignal, SIGFPE, true, 0},
        ExitPath{"IllegalInstruction", Way::kSignal, SIGILL, true, 0},
        ExitPath{"User1", Way::kSignal, SIGUSR1, true, 0},
        ExitPath{"User2", Way::kSignal, SIGUSR2, true, 0},
        ExitPath{"Alarm", Way::kSignal, SIGALRM, true, 0},
        ExitPath{"Kill", Way::kSignal, SIGKILL, true, 0},
        ExitPath{"TerminalStop", Way::kTerminalStop, SIGTSTP, false, 128 + SIGTERM},
        // Uncatchable: the watchdog sees the stop and releases.
        ExitPath{"Stop", Way::kTerminalStop, SIGSTOP, false, 128 + SIGTERM},
        ExitPath{"KillAfterItsWatchdog", Way::kAfterItsWatchdog, SIGKILL, true, 0},
        ExitPath{"KillWithItsWatchdog", Way::kWithItsWatchdog, SIGKILL, true, 0},
        ExitPath{"KillWithItsWatchdogBehind", Way::kWithItsWatchdogBehind, SIGKILL, true, 0},
        ExitPath{"MainWindowDestroyed", Way::kMainWindowDestroyed, 0, false, 0},
        ExitPath{"OwnWindowFocused", Way::kOwnWindowFocused, SIGTERM, false, 128 + SIGTERM},
        ExitPath{"HangupUnderNohup", Way::kHangupUnderNohup, SIGHUP, false, 128 + SIGTERM},
        ExitPath{"SourceLost", Way::kSourceLost, 0, false, 1}),
    [](const ::testing::TestParamInfo<ExitPath>& info) { return std::string(info.param.name); });

// How the X server goes: SIGTERM lets it close its connections, SIGKILL drops them.
class ServerGone : public ProgramTest, public ::testing::WithParamInterface<int> {};

TEST_P(ServerGone, TheRunEndsWithoutACrash) {
    const std::string clip = makeHoldClip(dir_, "ball.avi", 50, 50, 45);
    ASSERT_FALSE(clip.empty()) << "camsteer_make_clip failed";
    auto program = startReplay(clip);
    ProgramWindows windows;
    ASSERT_TRUE(waitForWindows(windows)) << program->err();
    // Mid-run: frames shown and keys held.
    ASSERT_TRUE(pollUntil([&] { return !steeringKeysDown(*x_).empty(); }, kStartBound))
        << "no key went down; stderr:\n"
        << program->err();

    x_->close();  // the suite's own connection must not be the one that ends the test binary
    xvfb_->stop(GetParam());

    const std::optional<ExitStatus> status = program->wait();
    ASSERT_TRUE(status.has_value()) << "the program hung after the X server went away; stderr:\n"
                                    << program->err();
    EXPECT_TRUE(status->exited()) << status->describe() << "\nstderr:\n" << program->err();
    EXPECT_EQ(program->out(), "");
    // Also what the key output and the window toolkit say about the loss names the program.
    // Each said once, by the program: the keys went with the server, so nothing about a kill.
    const std::vector<std::string> said = lines(program->err());
    for (const std::string& line : said) {
        EXPECT_EQ(line.rfind("camsteer_replay: ", 0), 0u) << "stderr:\n" << program->err();
        EXPECT_EQ(std::count(said.begin(), said.end(), line), 1) << "stderr:\n" << program->err();
        EXPECT_EQ(line.find("killed"), std::string::npos) << "stderr:\n" << program->err();
    }
}

INSTANTIATE_TEST_SUITE_P(ByServerSignal, ServerGone, ::testing::Values(SIGTERM, SIGKILL),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "Terminated" : "Killed");
                         });

}  // namespace
}  // namespace camsteer::e2e
