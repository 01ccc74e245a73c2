#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "app/on_frame.hpp"
#include "tests/unit/test_support.hpp"

namespace camsteer {
namespace {

using testing::frameWith;
using testing::kBlue;
using testing::swatch;

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

}  // namespace
}  // namespace camsteer
