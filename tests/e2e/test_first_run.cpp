// A new user's first minutes: teaching the object by dragging over it in "Camsteer" (a real
// pointer drag through the X server), and a failure shown in the window for a menu user.

#include <algorithm>
#include <filesystem>
#include <set>

#include <opencv2/imgcodecs.hpp>

#include "harness.hpp"

namespace camsteer::e2e {
namespace {

class FirstRun : public ProgramTest {
  protected:
    // Waits until "Camsteer" shows frames (the grid's white lines are drawn).
    bool showsFrames(Window camsteer) {
        return pollUntil([&] { return countWhere(cameraPicture(camsteer), isWhite) > 500; },
                         kStartBound);
    }
};

// The ball is blue and held where the user sees it top left; the run starts from the red
// sample, so nothing is pressed until a drag over the ball teaches its colour. With --learn
// the selection is saved, and a later run on the saved picture steers from its first frames.
TEST_F(FirstRun, DragOverTheBallTeachesItsColourAndLearnSavesIt) {
    KeyRecorder recorder(xvfb_->display());
    ASSERT_TRUE(recorder.ok());
    const std::string clip = makeHoldClip(dir_, "ball.avi", 270, 50, 45, 60);
    ASSERT_FALSE(clip.empty()) << "camsteer_make_clip failed";
    const std::string learnt = dir_.file("taught.png");
    const std::string red = readFile(sourcePath("images/sample_red.png"));
    writeFile(learnt, red);

    recorder.takeFocus();
    Process first(Launch{programPath("camsteer_replay"),
                         {"--learn", learnt, clip},
                         env(),
                         dir_.path(),
                         std::nullopt},
                  dir_.path());
    ProgramWindows windows;
    ASSERT_TRUE(waitForWindows(windows)) << first.err();
    ASSERT_TRUE(showsFrames(windows.camsteer)) << first.err();
    recorder.waitFor([](const auto&) { return false; }, 700ms);
    EXPECT_TRUE(recorder.events().empty()) << "red learnt, blue ball: " << recorder.describe();
    EXPECT_EQ(readFile(learnt), red) << "nothing is written before a selection";

    // The drag may leave "Camsteer" with the input focus, which holds the keys back; they
    // reach the recorder once the user clicks back into it.
    x_->drag(windows.camsteer, cv::Point(30, 30), cv::Point(70, 70));
    EXPECT_TRUE(pollUntil([&] { return first.err().find(learnt) != std::string::npos; }, 10s))
        << "no line names the picture written; stderr:\n"
        << first.err();
    recorder.takeFocus();
    EXPECT_TRUE(recorder.waitFor(
        [&](const auto&) {
            return recorder.received(true, "Up") && recorder.received(true, "Left");
        },
        kStartBound))
        << "keys received: " << recorder.describe() << "\nstderr:\n"
        << first.err();
    x_->typeInto(windows.camsteer, XK_Escape);
    const std::optional<ExitStatus> status = first.wait();
    ASSERT_TRUE(status && status->exited() && status->code() == 0)
        << (status ? status->describe() : "did not end");
    EXPECT_EQ(first.out(), "");

    // The saved picture is the ball's 40 x 40 pixels: mostly saturated blue.
    const cv::Mat saved = cv::imread(learnt);
    ASSERT_EQ(cv::Size(40, 40), saved.size());
    cv::Mat hsv;
    cv::Mat blue;
    cv::cvtColor(saved, hsv, cv::COLOR_BGR2HSV);
    cv::inRange(hsv, cv::Scalar(100, 80, 60), cv::Scalar(130, 255, 255), blue);
    EXPECT_GT(cv::countNonZero(blue), 40 * 40 / 2);

    KeyRecorder second(xvfb_->display());
    ASSERT_TRUE(second.ok());
    second.takeFocus();
    Process again(
        Launch{programPath("camsteer_replay"), {learnt, clip}, env(), dir_.path(), std::nullopt},
        dir_.path());
    EXPECT_TRUE(second.waitFor(
        [&](const auto&) { return second.received(true, "Up") && second.received(true, "Left"); },
        kStartBound))
        << "keys received: " << second.describe() << "\nstderr:\n"
        << again.err();

    // Without --learn a selection is used but written nowhere: teaching the grey background
    // (no colour) lets go of the keys and leaves the folder as it was.
    const std::string savedBytes = readFile(learnt);
    const std::optional<Window> camsteer = x_->waitForWindow("Camsteer", kStartBound);
    ASSERT_TRUE(camsteer.has_value());
    ASSERT_TRUE(showsFrames(*camsteer));  // the picture laid out where the drag goes
    // What is in the folder besides the runs' own output files.
    const auto files = [&] {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
            const std::string name = entry.path().filename();
            if (name.rfind("run", 0) != 0) {
                names.insert(name);
            }
        }
        return names;
    };
    const std::set<std::string> before = files();
    x_->drag(*camsteer, cv::Point(200, 150), cv::Point(260, 200));
    EXPECT_TRUE(pollUntil([&] { return steeringKeysDown(*x_).empty(); }, kStartBound))
        << "keys down: " << ::testing::PrintToString(steeringKeysDown(*x_));
    EXPECT_EQ(readFile(learnt), savedBytes);
    EXPECT_EQ(files(), before);
    EXPECT_EQ(again.err().find("wrote"), std::string::npos) << again.err();
}

// Started from the menu, a start that fails once the windows are up says so in "Camsteer"
// and stays until Escape, then ends with the status it always had.
TEST_F(FirstRun, ShowFailuresKeepsTheReasonOnScreenUntilEscape) {
    const std::string clip = makeHoldClip(dir_, "ball.avi", 50, 50, 45, 5);
    ASSERT_FALSE(clip.empty()) << "camsteer_make_clip failed";
    const std::string truncated = dir_.file("truncated.avi");
    writeFile(truncated, readFile(clip).substr(0, 3000));

    Process run(Launch{programPath("camsteer_replay"),
                       {"--show-failures", sampleBlue(), truncated},
                       env(),
                       dir_.path(),
                       std::nullopt},
                dir_.path());
    const std::optional<Window> camsteer = x_->waitForWindow("Camsteer", kStartBound);
    ASSERT_TRUE(camsteer.has_value()) << run.err();
    // White text on the notice's dark red.
    const auto notice = [&] {
        const Geometry g = x_->geometry(*camsteer);
        if (g.width < 320 || g.height < 150) {
            return false;
        }
        const cv::Mat shot = screenshot(*x_, *camsteer, cv::Rect(0, 0, 320, 150));
        cv::Mat ground;
        cv::Mat text;
        cv::inRange(shot, cv::Scalar(0, 0, 80), cv::Scalar(20, 20, 110), ground);
        cv::inRange(shot, cv::Scalar::all(200), cv::Scalar::all(255), text);
        return cv::countNonZero(ground) > 320 * 150 / 2 && cv::countNonZero(text) > 300;
    };
    EXPECT_TRUE(pollUntil(notice, kStartBound)) << run.err();
    EXPECT_TRUE(run.running()) << "ended without waiting for the user";
    const std::vector<std::string> diagnostics = diagnosticLines(run.err());
    ASSERT_EQ(diagnostics.size(), 1u) << run.err();
    EXPECT_NE(diagnostics[0].find(truncated), std::string::npos) << diagnostics[0];

    x_->typeInto(*camsteer, XK_Escape);
    const std::optional<ExitStatus> status = run.wait();
    ASSERT_TRUE(status.has_value()) << "did not end after Escape";
    EXPECT_TRUE(status->exited() && status->code() == 1) << status->describe();
    EXPECT_EQ(run.out(), "");
}

}  // namespace
}  // namespace camsteer::e2e
