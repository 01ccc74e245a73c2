#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "app/shell.hpp"
#include "app/ui/settings_panel.hpp"
#include "tests/unit/test_support.hpp"

namespace camsteer {
namespace {

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

}  // namespace
}  // namespace camsteer
