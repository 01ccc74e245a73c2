#pragma once

#include <array>

#include <opencv2/core.hpp>

#include "tracker/tracker.hpp"

namespace camsteer {

// The direction pictures. The first nine form the 3 x 3 grid (3 x row + column, row 0 down,
// column 0 left), kDefaultArrow in its middle standing for no direction; then forward and back.
enum Arrow : int {
    kArrowDownLeft,
    kArrowDown,
    kArrowDownRight,
    kArrowLeft,
    kDefaultArrow,
    kArrowRight,
    kArrowUpLeft,
    kArrowUp,
    kArrowUpRight,
    kArrowForward,
    kArrowBack,
    kArrowCount
};

// The picture files, indexed by Arrow.
extern const std::array<const char*, kArrowCount> kArrowFiles;

// The loaded pictures, in the same order.
using ArrowSet = std::array<cv::Mat, kArrowCount>;

// The picture for a set of flags: a diagonal beats its two sides, back beats forward.
Arrow chooseArrow(const DirectionFlags& flags);

// What the "Output" picture shows, in its own pixels: the arrow, the tracked point's marker, the
// top of the coverage bar down the right edge and the rows of the Near and Far ticks. Equal
// marks draw identical pictures, so a picture is redrawn only when its marks change.
struct DirectionMarks {
    Arrow arrow = kDefaultArrow;
    cv::Point marker;
    int barTop = 0;
    int nearY = 0;
    int farY = 0;

    bool operator==(const DirectionMarks& o) const {
        return arrow == o.arrow && marker == o.marker && barTop == o.barTop && nearY == o.nearY &&
               farY == o.farY;
    }
    bool operator!=(const DirectionMarks& o) const { return !(*this == o); }
};

// The marks for a picture of `pictureSize`: `centre` refers to a frame of `captureSize` whose
// rows count from the bottom; `coverage` is 0..1, Near and Far positions 0..100.
DirectionMarks directionMarks(Arrow arrow, cv::Point centre, double coverage, int nearPos,
                              int farPos, cv::Size captureSize, cv::Size pictureSize);

// Draws the marks onto `picture` (a copy of the marks' arrow): the tracked point as a green dot,
// the coverage as a bar down the right edge, and the Near and Far ticks.
void drawDirection(cv::Mat& picture, const DirectionMarks& marks);
// The same for a centre, coverage and positions as directionMarks() takes them.
void drawDirection(cv::Mat& picture, cv::Point centre, double coverage, int nearPos, int farPos,
                   cv::Size captureSize);

}  // namespace camsteer
