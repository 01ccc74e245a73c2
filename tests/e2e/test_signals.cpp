// Ends from outside: stop signals at any moment of a run, and the X server going away under
// it. Every run must end by itself, never by a crash, and leave no steering key down.

#include <random>

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
}

INSTANTIATE_TEST_SUITE_P(ByServerSignal, ServerGone, ::testing::Values(SIGTERM, SIGKILL),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "Terminated" : "Killed");
                         });

}  // namespace
}  // namespace camsteer::e2e
