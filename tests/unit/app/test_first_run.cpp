// The first-run pieces: reading the command line, teaching by a dragged rectangle, and writing
// the taught picture so that a crash never leaves half of one.

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

#include "app/options.hpp"
#include "app/ui/failure_notice.hpp"
#include "app/ui/teach.hpp"
#include "tests/common/poll_until.hpp"

namespace camsteer {
namespace {

using Action = CommandLine::Action;
using test::pollUntil;

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

TEST(SelectionDrag, PressDragReleaseSelectsClampedAreaClicksSelectNothing) {
    struct Step {
        int event, x, y;
    };
    struct Case {
        std::vector<Step> steps;
        cv::Rect selected;  // empty: nothing selected
    };
    const cv::Size picture(320, 240);
    const int down = cv::EVENT_LBUTTONDOWN, move = cv::EVENT_MOUSEMOVE, up = cv::EVENT_LBUTTONUP;
    const Case cases[] = {
        {{{down, 10, 20}, {move, 50, 60}, {up, 60, 80}}, {10, 20, 50, 60}},
        {{{down, 60, 80}, {up, 10, 20}}, {10, 20, 50, 60}},      // dragged up-left
        {{{down, 300, 200}, {up, 999, -5}}, {300, 0, 20, 200}},  // beyond the picture
        {{{down, 30, 30}, {up, 30, 30}}, {}},                    // a click
        {{{down, 30, 30}, {move, 90, 90}, {up, 90, 30}}, {}},    // no height
        {{{move, 10, 10}, {up, 90, 90}}, {}},                    // no press
        {{{cv::EVENT_RBUTTONDOWN, 1, 1}, {move, 9, 9}, {up, 9, 9}}, {}},
    };
    for (const Case& c : cases) {
        SelectionDrag drag;
        std::optional<cv::Rect> result;
        for (const Step& s : c.steps) {
            result = drag.onMouse(s.event, s.x, s.y, picture);
        }
        EXPECT_EQ(c.selected.area() > 0, result.has_value());
        if (result) {
            EXPECT_EQ(c.selected, *result);
        }
        EXPECT_FALSE(drag.dragging());
    }
}

// The frame as the camera delivers it is bottom-up and not mirrored; the user selects on the
// picture shown upright and mirrored. The cut must be the pixels the user saw, upright and as
// the camera saw them.
TEST(Teaching, SelectionOnTheShownPictureCutsTheCleanFrameUnderIt) {
    cv::Mat frame(240, 320, CV_8UC3, cv::Scalar::all(0));
    // Real scene: a blue patch in the top-left corner, red just below it.
    cv::Mat upright(240, 320, CV_8UC3, cv::Scalar::all(0));
    upright(cv::Rect(0, 0, 40, 20)).setTo(cv::Scalar(255, 0, 0));
    upright(cv::Rect(0, 20, 40, 20)).setTo(cv::Scalar(0, 0, 255));
    cv::flip(upright, frame, 0);

    Teaching teaching;
    teaching.onMouse(cv::EVENT_LBUTTONDOWN, 320, 0, frame.size());  // shown top-right corner
    teaching.onMouse(cv::EVENT_MOUSEMOVE, 300, 30, frame.size());
    cv::Mat shown(240, 320, CV_8UC3, cv::Scalar::all(0));
    teaching.decorate(shown);
    EXPECT_GT(cv::countNonZero(shown.reshape(1)), 0) << "the rectangle is drawn while dragging";
    EXPECT_TRUE(teaching.takeReference().empty());
    teaching.onMouse(cv::EVENT_LBUTTONUP, 280, 40, frame.size());
    EXPECT_TRUE(teaching.takeReference().empty()) << "no frame offered yet";

    teaching.tap().offer(frame);
    const cv::Mat taught = teaching.takeReference();
    ASSERT_EQ(cv::Size(40, 40), taught.size());
    EXPECT_EQ(0, cv::norm(taught, upright(cv::Rect(0, 0, 40, 40)), cv::NORM_INF));
    EXPECT_TRUE(teaching.takeReference().empty()) << "one selection, one reference";
    // Without a question the tap copies nothing.
    teaching.tap().offer(frame);
    cv::Mat kept;
    EXPECT_FALSE(teaching.tap().take(kept));
}

// The capture thread offers every frame while the main thread asks now and then: each answer is
// one whole frame, never one being overwritten (run under ThreadSanitizer too: "Capture").
TEST(CaptureTeaching, CleanFrameTapHandsWholeFramesAcrossThreads) {
    CleanFrameTap tap;
    std::atomic<bool> stop{false};
    std::thread capture([&] {
        cv::Mat frame(240, 320, CV_8UC3);
        for (int n = 0; !stop; ++n) {
            frame.setTo(cv::Scalar::all(n % 256));
            tap.offer(frame);
        }
    });
    for (int i = 0; i < 50; ++i) {
        tap.ask();
        cv::Mat got;
        ASSERT_TRUE(pollUntil([&] { return tap.take(got); }, std::chrono::seconds(10)));
        double low = 0;
        double high = 0;
        cv::minMaxLoc(got.reshape(1), &low, &high);
        EXPECT_EQ(low, high) << "a torn frame";
    }
    stop = true;
    capture.join();
}

class TempFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/camsteer-firstrun-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::string dir_;
};

TEST_F(TempFolder, PictureIsWrittenWholeIntoNewFoldersAndFailuresLeaveTheOldOne) {
    const cv::Mat first(8, 8, CV_8UC3, cv::Scalar(255, 0, 0));
    const cv::Mat second(4, 6, CV_8UC3, cv::Scalar(0, 0, 255));
    const std::string path = dir_ + "/a/b/reference.png";
    std::string why;
    ASSERT_TRUE(writePictureAtomically(path, first, why)) << why;
    ASSERT_TRUE(writePictureAtomically(path, second, why)) << why;
    EXPECT_EQ(0, cv::norm(cv::imread(path), second, cv::NORM_INF));
    EXPECT_EQ(0, std::system(("test $(ls -A '" + dir_ + "/a/b' | wc -l) = 1").c_str()))
        << "no temporary file is left behind";

    for (const std::string& bad : {dir_ + "/a/b/reference.nosuchtype", dir_ + "/a/b/noext",
                                   dir_ + "/a/b/reference.png/inside.png"}) {
        why.clear();
        EXPECT_FALSE(writePictureAtomically(bad, first, why)) << bad;
        EXPECT_NE(why.find(bad.substr(0, bad.find_last_of('/'))), std::string::npos) << why;
    }
    ASSERT_EQ(0, chmod((dir_ + "/a/b").c_str(), 0500));
    if (access((dir_ + "/a/b").c_str(), W_OK) != 0) {  // root may write anyway
        EXPECT_FALSE(writePictureAtomically(path, first, why));
        EXPECT_EQ(0, cv::norm(cv::imread(path), second, cv::NORM_INF));
    }
    chmod((dir_ + "/a/b").c_str(), 0700);
}

TEST(FailureNotice, LongMessagesWrapInsideThePicture) {
    const std::string word(20, 'x');
    const cv::Mat shortOne = failurePicture("camsteer", "no camera found", 400);
    const cv::Mat longOne =
        failurePicture("camsteer", word + " " + word + " " + word + " " + word, 400);
    EXPECT_EQ(400, shortOne.cols);
    EXPECT_GT(longOne.rows, shortOne.rows);
    // Text is drawn in white on the dark red ground, and not off the right edge.
    cv::Mat white;
    cv::inRange(longOne, cv::Scalar::all(200), cv::Scalar::all(255), white);
    EXPECT_GT(cv::countNonZero(white), 100);
    EXPECT_EQ(0, cv::countNonZero(white.colRange(390, 400)));
}

}  // namespace
}  // namespace camsteer
