// A replay run seen as the user sees it: the three windows where they belong, the camera picture
// upright and mirrored with its overlay, the arrow the ball's cell calls for, the hue bars, the
// mask view on B and the end on Escape. Every check reads the screen of the test's own Xvfb.

#include <cmath>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "harness.hpp"

namespace camsteer::e2e {
namespace {

bool isBallBlue(const cv::Vec3b& p) {
    return p[0] > 120 && p[2] < 60 && p[0] > p[1] + 60;
}
bool isGrey(const cv::Vec3b& p) {
    return std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) < 30 && p[0] > 60;
}

// The share of the pixels of `picture` within `radius` of `centre` (and beyond `hole`) that
// pass `test`.
double shareInDisc(const cv::Mat& picture, cv::Point centre, double radius,
                   bool (*test)(const cv::Vec3b&), double hole = 0) {
    int total = 0;
    int passed = 0;
    for (int y = 0; y < picture.rows; ++y) {
        for (int x = 0; x < picture.cols; ++x) {
            const double d = std::hypot(x - centre.x, y - centre.y);
            if (d <= radius && d >= hole) {
                ++total;
                passed += test(picture.at<cv::Vec3b>(y, x)) ? 1 : 0;
            }
        }
    }
    return total == 0 ? 0.0 : static_cast<double>(passed) / total;
}

// The clip's ball: drawn at (50, 50) of the stored picture, radius 45. The picture is shown
// mirrored, so the user sees it at the top right, where it steers Up and Right.
constexpr int kStoredX = 50;
constexpr int kStoredY = 50;
constexpr int kRadius = 45;
const cv::Point kShown(320 - 1 - kStoredX, kStoredY);
const cv::Point kUnmirrored(kStoredX, kStoredY);
const cv::Point kUpsideDown(320 - 1 - kStoredX, 240 - 1 - kStoredY);

// The grid lines, 2 pixels wide: columns at a third and two thirds of the width; rows at a
// third and two thirds of the height counted from the bottom, so 240-1-80 and 240-1-160 from
// the top.
const int kGridColumns[] = {106, 212};
const int kGridRows[] = {240 - 1 - 80, 240 - 1 - 160};

// Every pixel of the grid lines outside the ball's corner cell passes `test`.
::testing::AssertionResult gridDrawn(const cv::Mat& picture, bool (*test)(const cv::Vec3b&)) {
    const cv::Rect ballCell(212, 0, 108, 80);
    for (int x : kGridColumns) {
        for (int y = 0; y < 240; ++y) {
            if (!ballCell.contains({x, y}) && !test(picture.at<cv::Vec3b>(y, x))) {
                return ::testing::AssertionFailure() << "column " << x << " at row " << y;
            }
        }
    }
    for (int y : kGridRows) {
        for (int x = 0; x < 320; ++x) {
            if (!ballCell.contains({x, y}) && !test(picture.at<cv::Vec3b>(y, x))) {
                return ::testing::AssertionFailure() << "row " << y << " at column " << x;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// The normal view: the ball top right in the user's picture, outlined in green (it steers),
// nothing at its unmirrored or upside-down place, the grid in white.
bool showsSteeringBall(const cv::Mat& picture) {
    return !picture.empty() && shareInDisc(picture, kShown, 30, isBallBlue, 8) > 0.9 &&
           shareInDisc(picture, kShown, kRadius + 7, isGreen, kRadius - 7) > 0.1;
}

// The mask view: black, the grid and the ball's region in white.
bool showsMask(const cv::Mat& picture) {
    return !picture.empty() && shareInDisc(picture, kShown, 30, isWhite, 8) > 0.95 &&
           shareInDisc(picture, {60, 200}, 30, isBlack) > 0.99 && gridDrawn(picture, isWhite);
}

// Of the eleven arrow pictures, the one closest to the "Output" picture; the right edge (the
// coverage bar and the near/far ticks) and the marker's own green are left out.
struct ArrowMatch {
    std::string file;
    double mismatch = 1.0;  // share of the compared pixels that differ
    double runnerUp = 1.0;  // the same for the next closest arrow
};
ArrowMatch closestArrow(const cv::Mat& output) {
    static const char* const kFiles[] = {
        "arrow_downleft.bmp", "arrow_down.bmp",    "arrow_downright.bmp", "arrow_left.bmp",
        "arrow_default.bmp",  "arrow_right.bmp",   "arrow_upleft.bmp",    "arrow_up.bmp",
        "arrow_upright.bmp",  "arrow_forward.bmp", "arrow_back.bmp"};
    ArrowMatch best;
    for (const char* file : kFiles) {
        const cv::Mat arrow = cv::imread(sourcePath(std::string("images/") + file));
        if (arrow.size() != output.size()) {
            continue;
        }
        int compared = 0;
        int differ = 0;
        for (int y = 0; y < output.rows; ++y) {
            for (int x = 0; x < output.cols - 20; ++x) {
                const cv::Vec3b shown = output.at<cv::Vec3b>(y, x);
                if (shown == cv::Vec3b(0, 255, 0)) {
                    continue;  // the marker
                }
                ++compared;
                const cv::Vec3b want = arrow.at<cv::Vec3b>(y, x);
                for (int c = 0; c < 3; ++c) {
                    if (std::abs(shown[c] - want[c]) > 8) {
                        ++differ;
                        break;
                    }
                }
            }
        }
        const double mismatch = compared == 0 ? 1.0 : static_cast<double>(differ) / compared;
        if (mismatch < best.mismatch) {
            best.runnerUp = best.mismatch;
            best.mismatch = mismatch;
            best.file = file;
        } else if (mismatch < best.runnerUp) {
            best.runnerUp = mismatch;
        }
    }
    return best;
}

using ReplayWindows = ProgramTest;

TEST_F(ReplayWindows, ShowTheRunAsTheUserSeesIt) {
    const std::string clip = makeHoldClip(dir_, "top-left.avi", kStoredX, kStoredY, kRadius);
    ASSERT_FALSE(clip.empty()) << "camsteer_make_clip failed";
    auto program = startReplay(clip);
    ProgramWindows windows;
    ASSERT_TRUE(waitForWindows(windows)) << program->err();

    // The camera picture: upright, mirrored, the ball outlined in green, the grid in white.
    cv::Mat picture;
    ASSERT_TRUE(pollUntil(
        [&] { return showsSteeringBall(picture = cameraPicture(windows.camsteer)); }, kStartBound))
        << "the ball never appeared top right with a green outline";
    EXPECT_EQ(shareInDisc(picture, kUnmirrored, 30, isBallBlue), 0.0) << "picture not mirrored";
    EXPECT_GT(shareInDisc(picture, kUnmirrored, 30, isGrey), 0.9);
    EXPECT_EQ(shareInDisc(picture, kUpsideDown, 30, isBallBlue), 0.0) << "picture upside down";
    EXPECT_GT(shareInDisc(picture, kUpsideDown, 30, isGrey), 0.9);
    EXPECT_TRUE(gridDrawn(picture, isWhite));
    EXPECT_EQ(countWhere(picture, isRed), 0) << "a red (neutral) outline on a steering target";
    EXPECT_TRUE(isGreen(picture.at<cv::Vec3b>(kShown.y, kShown.x))) << "no dot at the centre";

    // Where the windows are, once the first picture has given "Camsteer" its size: exact root
    // coordinates, as there is no window manager to move them.
    struct Placement {
        const char* name;
        Window window;
        Geometry want;
        bool exactHeight;  // "Camsteer" also holds the trackbars under the picture
    };
    const Placement placements[] = {
        {"Camsteer", windows.camsteer, {50, 50, 320, 240}, false},
        {"Output", windows.output, {385, 50, 200, 200}, true},
        {"Histogram", windows.histogram, {385, 320, 240, 240}, true},
    };
    for (const Placement& p : placements) {
        SCOPED_TRACE(p.name);
        const Geometry got = x_->geometry(p.window);
        EXPECT_EQ(got.x, p.want.x);
        EXPECT_EQ(got.y, p.want.y);
        EXPECT_EQ(got.width, p.want.width);
        if (p.exactHeight) {
            EXPECT_EQ(got.height, p.want.height);
        } else {
            EXPECT_GE(got.height, p.want.height + 6 * 10) << "room for six trackbars";
        }
    }

    // "Output": the up-right arrow, and the coverage bar at the right edge.
    ArrowMatch match;
    cv::Mat output;
    pollUntil(
        [&] {
            output = screenshot(*x_, windows.output, cv::Rect(0, 0, 200, 200));
            match = closestArrow(output);
            return match.file == "arrow_upright.bmp";
        },
        kStartBound);
    EXPECT_EQ(match.file, "arrow_upright.bmp");
    EXPECT_LT(match.mismatch, 0.01);
    EXPECT_GT(match.runnerUp, 5 * match.mismatch + 0.01) << "the arrows are not told apart";
    const cv::Vec3b barBottom = output.at<cv::Vec3b>(199, 195);
    EXPECT_EQ(barBottom, cv::Vec3b(255, 100, 0)) << "no coverage bar at the right edge";

    // "Histogram": a bar at the sample's hue, none at hues far from it.
    const cv::Mat histogram = screenshot(*x_, windows.histogram, cv::Rect(0, 0, 240, 240));
    ASSERT_FALSE(histogram.empty());
    const int bin = sampleBin();
    EXPECT_FALSE(isBlack(histogram.at<cv::Vec3b>(239, bin * 15 + 7))) << "no bar in bin " << bin;
    for (int far = 0; far < 16; ++far) {
        if (std::abs(far - bin) >= 3) {
            EXPECT_TRUE(isBlack(histogram.at<cv::Vec3b>(239, far * 15 + 7))) << "bar in " << far;
        }
    }

    // B shows the mask, B again the picture.
    x_->typeInto(windows.camsteer, XK_b);
    EXPECT_TRUE(pollUntil([&] { return showsMask(cameraPicture(windows.camsteer)); }, kStartBound))
        << "B did not switch to the mask view";
    x_->typeInto(windows.camsteer, XK_b);
    EXPECT_TRUE(pollUntil(
        [&] {
            picture = cameraPicture(windows.camsteer);
            return showsSteeringBall(picture) && shareInDisc(picture, {60, 200}, 30, isGrey) > 0.9;
        },
        kStartBound))
        << "B again did not switch back";

    // Escape ends the run normally.
    x_->typeInto(windows.camsteer, XK_Escape);
    const std::optional<ExitStatus> status = program->wait();
    ASSERT_TRUE(status.has_value()) << "Escape did not end the run";
    EXPECT_TRUE(status->exited() && status->code() == 0) << status->describe();
    EXPECT_EQ(program->out(), "");
}

}  // namespace
}  // namespace camsteer::e2e
