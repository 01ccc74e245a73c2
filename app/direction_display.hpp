#pragma once

#include <array>

#include <opencv2/core.hpp>

#include "tracker/tracker.hpp"

namespace camsteer {

constexpr int kArrowCount = 11;
constexpr int kDefaultArrow = 4;

// The direction pictures in index order; 0..8 form the 3 x 3 grid (3 x row + column,
// row 0 down, column 0 left), 9 is forward and 10 back.
extern const std::array<const char*, kArrowCount> kArrowFiles;

// The picture for a set of flags: a diagonal beats its two sides, back beats forward.
int chooseArrow(const DirectionFlags& flags);

// Draws onto `picture` (a copy of the chosen arrow): the tracked point as a green dot, the
// coverage as a bar down the right edge, and ticks for the Near and Far positions (0..100).
// `captureSize` is the frame size the centre refers to; its rows count from the bottom.
void drawDirection(cv::Mat& picture, cv::Point centre, double coverage, int nearPos, int farPos,
                   cv::Size captureSize);

}  // namespace camsteer
