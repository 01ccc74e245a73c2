#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "app/ui/failure_notice.hpp"

namespace camsteer {
namespace {

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
