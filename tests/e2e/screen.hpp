#pragma once

// What the programs' windows show, read back from the screen: screenshots as 8-bit BGR
// pictures, the predicates for the colours the windows draw, and where the blue sample's hue
// falls in the histogram.

#include <string>

#include "x_client.hpp"

namespace camsteer::e2e {

// The pixels of `area` (window coordinates) of `window` as an 8-bit BGR picture; empty on
// failure.
inline cv::Mat screenshot(XClient& client, Window window, const cv::Rect& area) {
    XImage* image = XGetImage(client.display(), window, area.x, area.y, area.width, area.height,
                              AllPlanes, ZPixmap);
    cv::Mat picture;
    if (image == nullptr) {
        return picture;
    }
    picture.create(area.height, area.width, CV_8UC3);
    const auto channel = [](unsigned long pixel, unsigned long mask) {
        int shift = 0;
        while (mask != 0 && (mask & 1) == 0) {
            mask >>= 1;
            ++shift;
        }
        return static_cast<uchar>((pixel >> shift) & mask);
    };
    for (int y = 0; y < area.height; ++y) {
        for (int x = 0; x < area.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            picture.at<cv::Vec3b>(y, x) =
                cv::Vec3b(channel(pixel, image->blue_mask), channel(pixel, image->green_mask),
                          channel(pixel, image->red_mask));
        }
    }
    XDestroyImage(image);
    return picture;
}

// The overlay's and mask view's colours as they come back in a screenshot.
inline bool isWhite(const cv::Vec3b& p) {
    return p[0] >= 250 && p[1] >= 250 && p[2] >= 250;
}
inline bool isBlack(const cv::Vec3b& p) {
    return p[0] <= 5 && p[1] <= 5 && p[2] <= 5;
}
inline bool isGreen(const cv::Vec3b& p) {
    return p[1] > 200 && p[0] < 80 && p[2] < 80;
}
inline bool isRed(const cv::Vec3b& p) {
    return p[2] > 200 && p[0] < 80 && p[1] < 80;
}

// How many pixels of the 8-bit BGR `picture` pass `test`.
inline int countWhere(const cv::Mat& picture, bool (*test)(const cv::Vec3b&)) {
    int n = 0;
    for (int y = 0; y < picture.rows; ++y) {
        for (int x = 0; x < picture.cols; ++x) {
            n += test(picture.at<cv::Vec3b>(y, x)) ? 1 : 0;
        }
    }
    return n;
}

// The histogram bin (of 16 over hue 0..180) of the blue sample's colour.
inline int sampleBin() {
    cv::Mat hsv;
    cv::cvtColor(cv::imread(sampleBlue()), hsv, cv::COLOR_BGR2HSV);
    const cv::Vec3b centre = hsv.at<cv::Vec3b>(hsv.rows / 2, hsv.cols / 2);
    return centre[0] * 16 / 180;
}

}  // namespace camsteer::e2e
