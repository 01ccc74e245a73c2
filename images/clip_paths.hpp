#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace camsteer::images {

// One step of a ball path: glide to (x, y, r) over `move` frames, then stay
// for `hold` frames.
struct Key {
    double x;
    double y;
    double r;
    int move;
    int hold;
};

// The demo path: all nine cells, then near and far.
std::vector<Key> demoPath();

// Expands a path into one (x, y, r) per frame.
std::vector<cv::Point3d> framesOf(const std::vector<Key>& path);

// A 30 fps clip of use, 10 s, made of kinds of segment: `cells` (5 s) visits all nine cells
// with a ball of about 6.5 % of the picture; `near` brings it to about 39 % (the overlay's
// longest outline) and `far` takes it to about 8 %, both swaying a few pixels as a held object
// does; then it leaves the picture across an edge and `absent` shows only the background.
// `use` is the four in that order; each kind alone is 5 s (150 frames) of that kind. A
// measurement over a whole number of periods covers each frame alike wherever it starts.
constexpr int kUseFps = 30;
bool isUseKind(const std::string& kind);
std::vector<cv::Point3d> useFrames(const std::string& kind);

}  // namespace camsteer::images
