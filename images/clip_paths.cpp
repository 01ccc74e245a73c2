#include "images/clip_paths.hpp"

#include <cmath>

namespace camsteer::images {

namespace {

constexpr int kKindFrames = 150;
constexpr double kNearR = 98;
constexpr double kFarR = 44;

double smoothstep(double u) {
    return u * u * (3 - 2 * u);
}

// All nine cells with the radius of the one-ball clip, starting and ending at the centre.
std::vector<Key> cellsPath() {
    const double l = 53, cx = 160, r = 267, t = 40, cy = 120, b = 200, ball = 40;
    const int move = 6, hold = 10;
    return {{cx, cy, ball, 0, 6},      {cx, t, ball, move, hold}, {r, t, ball, move, hold},
            {r, cy, ball, move, hold}, {r, b, ball, move, hold},  {cx, b, ball, move, hold},
            {l, b, ball, move, hold},  {l, cy, ball, move, hold}, {l, t, ball, move, hold},
            {cx, cy, ball, move, hold}};
}

// `count` frames of a ball of radius `r` held at the centre, swaying by a few pixels.
void appendHeld(std::vector<cv::Point3d>& frames, double r, int count) {
    for (int i = 0; i < count; ++i) {
        const double a = 2 * CV_PI * i / count;
        frames.emplace_back(160 + 3 * std::sin(a), 120 + 2 * std::sin(2 * a), r);
    }
}

// `count` frames gliding from the last frame's ball to `to`.
void appendGlide(std::vector<cv::Point3d>& frames, cv::Point3d to, int count) {
    const cv::Point3d from = frames.back();
    for (int i = 1; i <= count; ++i) {
        frames.push_back(from + smoothstep(static_cast<double>(i) / count) * (to - from));
    }
}

}  // namespace

// The program mirrors the camera picture, so the left column of the clip is the right column
// on screen; the tour covers all nine cells either way. Cell centres of a 320 x 240 picture are
// x = 53, 160, 267 and y = 40, 120, 200. The tour radius covers about 14 % of the picture,
// between the near (r 88, about 32 %) and far (r 41, about 7 %) sizes.
std::vector<Key> demoPath() {
    const double l = 53, cx = 160, r = 267, t = 40, cy = 120, b = 200;
    const double ball = 58, nearR = 88, farR = 41;
    const int move = 5, hold = 8;
    return {
        {cx, cy, ball, 0, 8},       {cx, t, ball, move, hold}, {r, t, ball, move, hold},
        {r, cy, ball, move, hold},  {r, b, ball, move, hold},  {cx, b, ball, move, hold},
        {l, b, ball, move, hold},   {l, cy, ball, move, hold}, {l, t, ball, move, hold},
        {cx, cy, ball, move, hold}, {cx, cy, nearR, 8, 14},    {cx, cy, farR, 12, 14},
        {cx, cy, ball, 8, 6},
    };
}

std::vector<cv::Point3d> framesOf(const std::vector<Key>& path) {
    std::vector<cv::Point3d> out;
    cv::Point3d prev(path.front().x, path.front().y, path.front().r);
    for (const Key& k : path) {
        const cv::Point3d next(k.x, k.y, k.r);
        for (int i = 1; i <= k.move; ++i) {
            const double u = smoothstep(static_cast<double>(i) / k.move);
            out.push_back(prev + u * (next - prev));
        }
        for (int i = 0; i < k.hold; ++i) {
            out.push_back(next);
        }
        prev = next;
    }
    return out;
}

bool isUseKind(const std::string& kind) {
    return kind == "use" || kind == "cells" || kind == "near" || kind == "far" || kind == "absent";
}

std::vector<cv::Point3d> useFrames(const std::string& kind) {
    std::vector<cv::Point3d> frames;
    const bool use = kind == "use";
    if (use || kind == "cells") {
        frames = framesOf(cellsPath());
    }
    if (kind == "near") {
        appendHeld(frames, kNearR, kKindFrames);
    }
    if (kind == "far") {
        appendHeld(frames, kFarR, kKindFrames);
    }
    if (use) {
        appendGlide(frames, {160, 120, kNearR}, 12);
        appendHeld(frames, kNearR, 48);
        appendGlide(frames, {160, 120, kFarR}, 12);
        appendHeld(frames, kFarR, 33);
        appendGlide(frames, {320 + kFarR + 2, 120, kFarR}, 12);  // out across the right edge
    }
    // The rest, and all of `absent`: no ball (radius 0).
    frames.resize(use ? 2 * kKindFrames : kKindFrames, cv::Point3d(0, 0, 0));
    return frames;
}

}  // namespace camsteer::images

namespace camsteer::images {

namespace {

// A hand's tremor: a smooth wander of `wander` px (two slow sines) plus a jitter of up to
// `jitter` px from frame to frame (a fixed-seed generator, so the clip is the same every time).
class Tremor {
  public:
    Tremor(double wander, double jitter) : wander_(wander), jitter_(jitter) {}
    double next() {
        ++frame_;
        state_ = state_ * 1103515245u + 12345u;
        const double noise = static_cast<double>(state_ >> 16 & 0x7fff) / 0x7fff * 2 - 1;
        return wander_ * (0.6 * std::sin(frame_ * 0.37) + 0.4 * std::sin(frame_ * 0.13 + 1)) +
               jitter_ * noise;
    }

  private:
    double wander_;
    double jitter_;
    int frame_ = 0;
    unsigned state_ = 20261208u;
};

// The grid lines of the decision in the stored picture (top-down, not mirrored): the user's
// left line x < 106 on screen is x > 213 here; the top line y > 160 (rows from the bottom) is
// y < 79.
constexpr double kLeftLineX = 213.5, kRightLineX = 106.5, kTopLineY = 78.5, kBottomLineY = 158.5;
// Radii whose disc covers the Near (20 %) and Far (12 %) share of 320 x 240.
constexpr double kNearLimitR = 66.9, kFarLimitR = 51.2;
// A ball between Far and Near (about 14 %), which steers only by where it is.
constexpr double kNeutralR = 58;

}  // namespace

bool isTremorKind(const std::string& kind) {
    return kind == "tremor" || kind == "jitter";
}

int tremorFps(const std::string& kind) {
    return kind == "tremor" ? 30 : 15;
}

std::vector<cv::Point3d> tremorFrames(const std::string& kind) {
    std::vector<cv::Point3d> frames;
    if (kind == "jitter") {
        // From the middle cell to 4 px before the line, 60 frames jittering across it while
        // drifting 12 px on, and back.
        frames.assign(10, cv::Point3d(160, 120, kNeutralR));
        appendGlide(frames, {kLeftLineX - 4, 120, kNeutralR}, 10);
        for (int i = 0; i < 60; ++i) {
            frames.emplace_back(kLeftLineX - 4 + 12.0 * i / 60 + (i % 2 == 0 ? 3 : -3), 120,
                                kNeutralR);
        }
        appendGlide(frames, {160, 120, kNeutralR}, 10);
        frames.resize(240, cv::Point3d(160, 120, kNeutralR));  // and rests 10 s in the middle
        return frames;
    }
    const int held = 90;
    const double ball = kNeutralR;
    const cv::Point3d lines[] = {{kLeftLineX, 120, ball},
                                 {kRightLineX, 120, ball},
                                 {160, kTopLineY, ball},
                                 {160, kBottomLineY, ball}};
    Tremor tremor(2, 1);
    Tremor other(2, 1);
    for (const cv::Point3d& line : lines) {
        for (int i = 0; i < held; ++i) {
            const bool acrossX = line.x != 160;
            const double t = tremor.next();
            const double o = other.next();
            frames.emplace_back(line.x + (acrossX ? t : o), line.y + (acrossX ? o : t), ball);
        }
    }
    for (double radius : {kNearLimitR, kFarLimitR}) {
        for (int i = 0; i < held; ++i) {
            frames.emplace_back(160 + other.next(), 120 + other.next(), radius + tremor.next());
        }
    }
    return frames;
}

}  // namespace camsteer::images
