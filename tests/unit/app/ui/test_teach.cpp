// Teaching by a dragged rectangle: the selection, and the clean frame under it.

#include <atomic>
#include <thread>

#include <gtest/gtest.h>
#include <opencv2/highgui.hpp>

#include "app/ui/teach.hpp"
#include "tests/common/poll_until.hpp"

namespace camsteer {
namespace {

using test::pollUntil;

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
TEST(CleanFrameTapThreads, CleanFrameTapHandsWholeFramesAcrossThreads) {
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

}  // namespace
}  // namespace camsteer
