// Checks on the committed direction and sample pictures and on the demo clip
// written by the build.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "images/clip_check.hpp"

namespace {

const std::string kImages = std::string(CAMSTEER_SOURCE_DIR) + "/images/";

struct Direction {
    const char* file;
    int dx;  // screen direction the arrow points, 0/0 for the non-arrow symbols
    int dy;
};

const Direction kDirections[] = {
    {"arrow_downleft.bmp", -1, 1}, {"arrow_down.bmp", 0, 1},    {"arrow_downright.bmp", 1, 1},
    {"arrow_left.bmp", -1, 0},     {"arrow_default.bmp", 0, 0}, {"arrow_right.bmp", 1, 0},
    {"arrow_upleft.bmp", -1, -1},  {"arrow_up.bmp", 0, -1},     {"arrow_upright.bmp", 1, -1},
    {"arrow_forward.bmp", 0, 0},   {"arrow_back.bmp", 0, 0},
};

cv::Mat loadExact(const std::string& path) {
    return cv::imread(path, cv::IMREAD_UNCHANGED);
}

// Pixels dark enough to be part of the symbol (the label rows excluded).
cv::Mat inkMask(const cv::Mat& img) {
    cv::Mat grey, mask;
    cv::cvtColor(img, grey, cv::COLOR_BGR2GRAY);
    cv::threshold(grey, mask, 100, 255, cv::THRESH_BINARY_INV);
    mask.rowRange(170, mask.rows).setTo(0);
    return mask;
}

// Median hue over the pixels that pass the tracker's colour mask.
int medianHue(const cv::Mat& bgr, double* passing) {
    cv::Mat hsv;
    cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HSV);
    std::vector<int> hues;
    for (auto it = hsv.begin<cv::Vec3b>(); it != hsv.end<cv::Vec3b>(); ++it) {
        if ((*it)[1] >= 80 && (*it)[2] >= 126) {
            hues.push_back((*it)[0]);
        }
    }
    *passing = static_cast<double>(hues.size()) / hsv.total();
    if (hues.empty()) {
        return -1;
    }
    std::nth_element(hues.begin(), hues.begin() + hues.size() / 2, hues.end());
    return hues[hues.size() / 2];
}

TEST(DirectionPictures, LoadAsSameSizeColourPicturesWithFreeBarStrip) {
    for (const Direction& d : kDirections) {
        SCOPED_TRACE(d.file);
        const cv::Mat img = loadExact(kImages + d.file);
        ASSERT_FALSE(img.empty());
        EXPECT_EQ(img.type(), CV_8UC3);
        EXPECT_EQ(img.size(), cv::Size(200, 200));
        // Light background, neither black nor pure green, so the marker dot and
        // tick lines stay visible.
        const cv::Vec3b corner = img.at<cv::Vec3b>(0, 0);
        EXPECT_GE(std::min({corner[0], corner[1], corner[2]}), 200);
        // The coverage bar strip carries no symbol.
        double lo = 0;
        cv::minMaxLoc(img.colRange(185, 200).reshape(1), &lo);
        EXPECT_GE(lo, 200.0);
        // A bold symbol, not a hairline.
        EXPECT_GT(cv::countNonZero(inkMask(img)), 200 * 200 / 50);
    }
}

TEST(DirectionPictures, AreDistinctAndArrowsPointTheirWay) {
    std::vector<cv::Mat> imgs;
    for (const Direction& d : kDirections) {
        imgs.push_back(loadExact(kImages + d.file));
        ASSERT_FALSE(imgs.back().empty()) << d.file;
    }
    for (size_t i = 0; i < imgs.size(); ++i) {
        for (size_t j = i + 1; j < imgs.size(); ++j) {
            EXPECT_GT(cv::norm(imgs[i], imgs[j], cv::NORM_L1), 200.0 * 200 * 10)
                << kDirections[i].file << " vs " << kDirections[j].file;
        }
    }
    // The arrow head is wider than the shaft: more ink lies ahead of the middle
    // of the symbol than behind it, and the ink is balanced across the axis.
    for (size_t i = 0; i < imgs.size(); ++i) {
        const Direction& d = kDirections[i];
        if (d.dx == 0 && d.dy == 0) {
            continue;
        }
        SCOPED_TRACE(d.file);
        const cv::Mat ink = inkMask(imgs[i]);
        const cv::Rect box = cv::boundingRect(ink);
        const cv::Point2d mid(box.x + box.width / 2.0, box.y + box.height / 2.0);
        const cv::Point2d dir(d.dx, d.dy);
        double ahead = 0, behind = 0, left = 0, right = 0;
        for (int y = 0; y < ink.rows; ++y) {
            for (int x = 0; x < ink.cols; ++x) {
                if (ink.at<uchar>(y, x) != 0) {
                    const cv::Point2d p = cv::Point2d(x, y) - mid;
                    // Pixels right on a dividing line count for neither side.
                    const double along = p.dot(dir), across = p.cross(dir);
                    if (along != 0) {
                        (along > 0 ? ahead : behind) += 1;
                    }
                    if (across != 0) {
                        (across > 0 ? left : right) += 1;
                    }
                }
            }
        }
        EXPECT_GT(ahead, 1.2 * behind);
        EXPECT_NEAR(left / right, 1.0, 0.1);
    }
}

TEST(SamplePictures, AreSaturatedSwatchesOfTheirHue) {
    const struct {
        const char* file;
        int hue;
    } samples[] = {{"sample_blue.png", 112}, {"sample_red.png", 2}};
    for (const auto& s : samples) {
        SCOPED_TRACE(s.file);
        const cv::Mat img = cv::imread(kImages + s.file, cv::IMREAD_COLOR);
        ASSERT_FALSE(img.empty());
        EXPECT_NEAR(img.cols, 64, 16);
        EXPECT_NEAR(img.rows, 64, 16);
        double passing = 0;
        EXPECT_NEAR(medianHue(img, &passing), s.hue, 4);
        EXPECT_GT(passing, 0.9);
    }
}

TEST(DemoClip, IsAQvgaClipOfTheSampleColourOnAGreyBackground) {
    cv::VideoCapture cap(std::string(CAMSTEER_BINARY_DIR) + "/demo.avi");
    ASSERT_TRUE(cap.isOpened()) << "build the camsteer_demo_clip target first";
    EXPECT_NEAR(cap.get(cv::CAP_PROP_FPS), 15.0, 0.01);
    cv::Mat frame, first;
    int frames = 0;
    while (cap.read(frame)) {
        ASSERT_EQ(frame.size(), cv::Size(320, 240));
        if (frames++ == 0) {
            first = frame.clone();
        }
    }
    EXPECT_GT(frames, 100);
    ASSERT_FALSE(first.empty());
    // Every frame decodes without the decoder's "corrupt data" warnings, which a reader
    // prints on every loop of the clip.
    int found = 0;
    EXPECT_EQ(
        camsteer::images::damagedFrames(std::string(CAMSTEER_BINARY_DIR) + "/demo.avi", &found),
        std::vector<int>{});
    EXPECT_EQ(found, frames);

    double passing = 0;
    const int clipHue = medianHue(first, &passing);
    EXPECT_GT(passing, 0.05);  // the ball
    EXPECT_LT(passing, 0.25);  // and not the background
    const cv::Mat sample = cv::imread(kImages + "sample_blue.png", cv::IMREAD_COLOR);
    ASSERT_FALSE(sample.empty());
    EXPECT_NEAR(clipHue, medianHue(sample, &passing), 3);
}

}  // namespace
