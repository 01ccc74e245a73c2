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

// Clips of a ball held still by a hand on a limit of the steering decision, with tremor: a
// smooth wander of about 2 px and a jitter of up to 1 px from frame to frame. `tremor` (30 fps,
// 18 s): 3 s at each of the four grid lines, then 3 s with the ball's size at Near and at Far
// (its radius wanders instead). `jitter` (15 fps, 16 s, for a test): the ball comes in from the
// middle cell and jitters 3 px either way across the user's left grid line, drifting slowly past
// it, then goes back and rests there for 10 s.
bool isTremorKind(const std::string& kind);
std::vector<cv::Point3d> tremorFrames(const std::string& kind);
int tremorFps(const std::string& kind);

}  // namespace camsteer::images
