// The picture mailboxes between the capture thread and the main thread: what they hand over,
// and (MailboxThreads) both threads at once, which ThreadSanitizer also runs.
#include <atomic>
#include <set>
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

}  // namespace
}  // namespace camsteer
