#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "app/ui/direction_display.hpp"

namespace camsteer {
namespace {

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

}  // namespace
}  // namespace camsteer
