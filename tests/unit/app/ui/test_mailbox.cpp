// The picture mailbox between the capture thread and the main thread, under both at once.
// Run under ThreadSanitizer by the sanitizer build.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "app/ui/mailbox.hpp"

namespace camsteer {
namespace {

TEST(MailboxThreads, TakerGetsWholePicturesNewerEachTime) {
    LatestPicture mailbox;
    constexpr int kPictures = 2000;
    std::thread poster([&] {
        cv::Mat picture;
        for (int i = 1; i <= kPictures; ++i) {
            // Every pixel carries the picture's number, so a torn picture shows two numbers.
            picture.create(240, 320, CV_8UC3);
            picture.setTo(cv::Scalar(i & 0xff, (i >> 8) & 0xff, 0));
            // Both ways in: a handed-over buffer comes back to be drawn on while the taker may
            // still be reading the picture before it.
            if (i % 2 == 0) {
                mailbox.post(picture);
            } else {
                mailbox.handOver(picture);
            }
        }
    });

    cv::Mat shown;
    int last = 0;
    int taken = 0;
    while (last < kPictures) {
        if (!mailbox.take(shown)) {
            std::this_thread::yield();
            continue;
        }
        ++taken;
        ASSERT_EQ(CV_8UC3, shown.type());
        const cv::Vec3b first = shown.at<cv::Vec3b>(0, 0);
        const int number = first[0] | (first[1] << 8);
        cv::Mat same;
        cv::inRange(shown, cv::Scalar(first[0], first[1], first[2]),
                    cv::Scalar(first[0], first[1], first[2]), same);
        ASSERT_EQ(static_cast<int>(shown.total()), cv::countNonZero(same))
            << "picture " << number << " mixed with another";
        ASSERT_GT(number, last) << "an older picture came after a newer one";
        last = number;
    }
    poster.join();
    EXPECT_FALSE(mailbox.take(shown)) << "the last picture was taken twice";
    EXPECT_GE(taken, 1);
}

}  // namespace
}  // namespace camsteer
