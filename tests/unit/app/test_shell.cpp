#include <unistd.h>

#include <set>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/on_frame.hpp"
#include "app/ui/arrow_set.hpp"
#include "app/ui/direction_display.hpp"
#include "app/ui/mailbox.hpp"
#include "app/ui/settings_panel.hpp"
#include "tests/unit/test_support.hpp"

namespace camsteer {
namespace {

using testing::frameWith;
using testing::kBlue;
using testing::swatch;

TEST(DirectionDisplay, ChoosesTheArrowByTheOrderedRules) {
    struct Case {
        DirectionFlags flags;  // up, down, left, right, forward, back
        Arrow arrow;
    };
    const Case cases[] = {
        {{}, kDefaultArrow},
        {{true, false, false, false, false, false}, kArrowUp},
        {{false, true, false, false, false, false}, kArrowDown},
        {{false, false, true, false, false, false}, kArrowLeft},
        {{false, false, false, true, false, false}, kArrowRight},
        {{true, false, false, true, false, false}, kArrowUpRight},
        {{true, false, true, false, false, false}, kArrowUpLeft},
        {{false, true, true, false, false, false}, kArrowDownLeft},
        {{false, true, false, true, false, false}, kArrowDownRight},
        {{false, false, false, false, true, false}, kArrowForward},
        {{false, false, false, false, false, true}, kArrowBack},
        {{false, false, false, false, true, true}, kArrowBack},  // back beats forward
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.arrow, chooseArrow(c.flags));
    }
}

TEST(DirectionDisplay, MarkerBarAndTicksOnAHundredPixelPicture) {
    const cv::Vec3b white(255, 255, 255), black(0, 0, 0), green(0, 255, 0), bar(255, 100, 0);
    cv::Mat p(100, 100, CV_8UC3, cv::Scalar::all(255));
    drawDirection(p, cv::Point(160, 120), 0.0, 20, 12, cv::Size(320, 240));
    for (int x = 85; x < 100; ++x) {
        EXPECT_EQ(black, p.at<cv::Vec3b>(20, x)) << x;
        EXPECT_EQ(black, p.at<cv::Vec3b>(12, x)) << x;
    }
    EXPECT_EQ(white, p.at<cv::Vec3b>(20, 84));
    EXPECT_EQ(green, p.at<cv::Vec3b>(50, 50));  // no target: marker in the middle
    for (int y : {0, 11, 50, 99}) {
        EXPECT_EQ(bar, p.at<cv::Vec3b>(y, 95)) << y;  // coverage 0: bar over the full height
    }
    EXPECT_EQ(white, p.at<cv::Vec3b>(50, 89));

    cv::Mat q(100, 100, CV_8UC3, cv::Scalar::all(255));
    // Low in the frame (small y, rows count from the bottom) is low in the picture; the bar
    // starts at coverage x height.
    drawDirection(q, cv::Point(32, 24), 0.5, 20, 12, cv::Size(320, 240));
    EXPECT_EQ(green, q.at<cv::Vec3b>(90, 10));
    EXPECT_EQ(white, q.at<cv::Vec3b>(49, 95));
    EXPECT_EQ(bar, q.at<cv::Vec3b>(50, 95));
}

class Panel : public ::testing::Test {
  protected:
    void SetUp() override {
        // Blue at V 150, red at V 250: the V band decides which of them the model learns.
        shell.referenceImage = cv::Mat(20, 40, CV_8UC3, cv::Scalar(150, 0, 0));
        shell.referenceImage.colRange(20, 40).setTo(cv::Scalar(0, 0, 250));
        shell.tracker = std::make_unique<Tracker>(shell.referenceImage, 320, 240);
        shell.showHistogram = [this](const cv::Mat& m) {
            ++shown;
            lastShown = m;
        };
        initTrackbarPositions(shell);
    }
    ShellState shell;
    int shown = 0;
    cv::Mat lastShown;
};

TEST_F(Panel, InitialPositionsComeFromTheTracker) {
    const int expected[] = {126, 80, 256, 5, 20, 12};
    for (size_t i = 0; i < kTrackbars.size(); ++i) {
        EXPECT_EQ(expected[i], trackbarPosition(shell, kTrackbars[i].which)) << kTrackbars[i].name;
    }
}

TEST_F(Panel, VminAboveVmaxGivesTheSameModelAsSwapped) {
    applyTrackbar(shell, Trackbar::Vmin, 200);
    applyTrackbar(shell, Trackbar::Vmax, 100);
    const cv::Mat crossed = shell.tracker->hueModel();
    applyTrackbar(shell, Trackbar::Vmin, 100);
    applyTrackbar(shell, Trackbar::Vmax, 200);
    const cv::Mat ordered = shell.tracker->hueModel();
    EXPECT_EQ(0, cv::norm(crossed, ordered, cv::NORM_INF));
    EXPECT_EQ(255.0f, ordered.at<float>(10));  // blue only
    EXPECT_EQ(0.0f, ordered.at<float>(0));
    EXPECT_EQ(4, shown);
    EXPECT_EQ(200, shell.positions.vmaxPos.load());
}

TEST_F(Panel, SminAtTheTopGivesAnEmptyModelAndABlackHistogram) {
    applyTrackbar(shell, Trackbar::Smin, 256);
    EXPECT_EQ(0, cv::countNonZero(shell.tracker->hueModel()));
    ASSERT_EQ(1, shown);
    EXPECT_EQ(0, cv::countNonZero(lastShown.reshape(1)));
    applyTrackbar(shell, Trackbar::Smin, 256);  // unchanged: nothing rebuilt
    EXPECT_EQ(1, shown);
}

TEST_F(Panel, CoverageThresholdsTakeEffectOnTheNextFrame) {
    Tracker& t = *shell.tracker;
    // A small target (about 1 % of the frame) is tracked only once TrackMin is 0.
    cv::Mat small = cv::Mat(240, 320, CV_8UC3, testing::kGrey);
    cv::rectangle(small, cv::Rect(40, 30, 20, 20), cv::Scalar(150, 0, 0), cv::FILLED);
    cv::Mat f = small.clone();
    ASSERT_TRUE(t.processFrame(f));
    EXPECT_EQ(cv::Point(160, 120), t.centre());
    applyTrackbar(shell, Trackbar::TrackMin, 0);
    f = small.clone();
    ASSERT_TRUE(t.processFrame(f));
    EXPECT_NE(cv::Point(160, 120), t.centre());
    EXPECT_EQ(0, shown);

    // A centred far target (about 8 %) is back with Far 12, never with Far 0.
    applyTrackbar(shell, Trackbar::TrackMin, 5);
    cv::Mat far = cv::Mat(240, 320, CV_8UC3, testing::kGrey);
    cv::rectangle(far, cv::Rect(122, 82, 76, 76), cv::Scalar(150, 0, 0), cv::FILLED);
    f = far.clone();
    ASSERT_TRUE(t.processFrame(f));
    EXPECT_TRUE(t.directions().back);
    applyTrackbar(shell, Trackbar::Far, 0);
    f = far.clone();
    ASSERT_TRUE(t.processFrame(f));
    EXPECT_FALSE(t.directions().back);

    // A centred near target (most of the frame) is forward with Near 20, never with Near 100.
    cv::Mat near = cv::Mat(240, 320, CV_8UC3, cv::Scalar(150, 0, 0));
    f = near.clone();
    ASSERT_TRUE(t.processFrame(f));
    EXPECT_TRUE(t.directions().forward);
    applyTrackbar(shell, Trackbar::Near, 100);
    f = near.clone();
    ASSERT_TRUE(t.processFrame(f));
    EXPECT_FALSE(t.directions().forward);
    EXPECT_EQ(100, shell.positions.nearPos.load());
}

TEST(OnFrame, OutputIsRedrawnOnlyWhenWhatItShowsChanges) {
    ShellState shell;
    for (cv::Mat& arrow : shell.arrowSet) {
        arrow = cv::Mat(50, 50, CV_8UC3, cv::Scalar::all(200));
    }
    shell.arrowSet[kArrowUpLeft].setTo(cv::Scalar(10, 20, 30));
    shell.referenceImage = swatch(kBlue);
    shell.tracker = std::make_unique<Tracker>(shell.referenceImage, 320, 240);
    initTrackbarPositions(shell);

    cv::Mat frame = frameWith({cv::Rect(240, 165, 70, 70)});  // the user's top-left
    onFrame(shell, frame);
    EXPECT_TRUE(shell.frameOk);
    EXPECT_EQ(kArrowUpLeft, shell.currentArrow.load());
    cv::Mat first;
    ASSERT_TRUE(shell.outputPicture.take(first));
    EXPECT_EQ(cv::Vec3b(10, 20, 30), first.at<cv::Vec3b>(5, 5));

    // A failed frame leaves the previous results, so the picture stays as it is.
    cv::Mat wrong(480, 640, CV_8UC3, cv::Scalar::all(0));
    onFrame(shell, wrong);
    EXPECT_FALSE(shell.frameOk);
    cv::Mat second;
    EXPECT_FALSE(shell.outputPicture.take(second));

    // Moving the Near trackbar moves its tick (row 50 x 60 / 100): the next frame redraws.
    const cv::Vec3b tick(0, 0, 0);
    ASSERT_NE(tick, first.at<cv::Vec3b>(30, 37));
    applyTrackbar(shell, Trackbar::Near, 60);
    onFrame(shell, wrong);
    ASSERT_TRUE(shell.outputPicture.take(second));
    EXPECT_EQ(tick, second.at<cv::Vec3b>(30, 37));
    EXPECT_EQ(first.at<cv::Vec3b>(5, 5), second.at<cv::Vec3b>(5, 5));
    // The arrow pictures themselves are never drawn on.
    EXPECT_EQ(0, cv::norm(shell.arrowSet[kArrowUpLeft],
                          cv::Mat(50, 50, CV_8UC3, cv::Scalar(10, 20, 30)), cv::NORM_INF));
}

TEST(LatestPicture, GivesTheNewestOnceAndReusesItsBuffers) {
    LatestPicture box;
    cv::Mat out;
    EXPECT_FALSE(box.take(out));
    box.post(cv::Mat(4, 4, CV_8UC3, cv::Scalar::all(1)));
    box.post(cv::Mat(4, 4, CV_8UC3, cv::Scalar::all(2)));
    ASSERT_TRUE(box.take(out));
    EXPECT_EQ(cv::Vec3b(2, 2, 2), out.at<cv::Vec3b>(0, 0));
    EXPECT_FALSE(box.take(out));

    std::set<const uchar*> buffers;
    const cv::Mat picture(4, 4, CV_8UC3, cv::Scalar::all(3));
    for (int i = 0; i < 10; ++i) {
        box.post(picture);
        ASSERT_TRUE(box.take(out));
        buffers.insert(out.data);
    }
    EXPECT_LE(buffers.size(), 2u);

    // Handed over, a picture reaches the taker without a copy; three buffers circulate.
    buffers.clear();
    cv::Mat canvas;
    for (int i = 0; i < 10; ++i) {
        canvas.create(4, 4, CV_8UC3);
        canvas.setTo(cv::Scalar::all(i));
        const uchar* drawn = canvas.data;
        box.handOver(canvas);
        ASSERT_TRUE(box.take(out));
        EXPECT_EQ(drawn, out.data);
        EXPECT_EQ(cv::Vec3b(i, i, i), out.at<cv::Vec3b>(3, 3));
        buffers.insert(out.data);
    }
    EXPECT_LE(buffers.size(), 3u);
}

TEST(ImagesDir, WorkingDirectoryComesFirst) {
    char previous[4096];
    ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
    ASSERT_EQ(0, chdir(CAMSTEER_SOURCE_DIR));
    const std::string found = findImagesDir();
    ASSERT_EQ(0, chdir(previous));
    EXPECT_EQ("images", found);
}

}  // namespace
}  // namespace camsteer
