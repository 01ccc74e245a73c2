// camsteer_count_taps REFERENCE CLIP STEADY...: the keys the tracker's decision presses over a
// clip, for each --steady value given: how many presses, and how many of them are undone within
// 4 frames (a tap, where a person would have held or not pressed at all). For choosing a steady
// value on a clip of a held object:
//
//   camsteer_make_clip tremor.avi tremor
//   camsteer_count_taps images/sample_blue.png tremor.avi 0 2 4 6 8
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "tracker/tracker.hpp"

namespace {

constexpr int kTapFrames = 4;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "camsteer_count_taps: usage: camsteer_count_taps REFERENCE CLIP STEADY...\n");
        return 2;
    }
    const cv::Mat reference = cv::imread(argv[1], cv::IMREAD_COLOR);
    cv::VideoCapture clip(argv[2], cv::CAP_FFMPEG);
    std::vector<cv::Mat> frames;
    for (cv::Mat frame; clip.read(frame) && !frame.empty();) {
        cv::Mat bottomUp;
        cv::flip(frame, bottomUp, 0);  // the capture thread hands the tracker bottom-up frames
        frames.push_back(bottomUp);
    }
    if (reference.empty() || frames.empty()) {
        std::fprintf(stderr, "camsteer_count_taps: cannot read %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    for (int a = 3; a < argc; ++a) {
        const int steady = std::atoi(argv[a]);
        camsteer::Tracker tracker(reference, frames.front().cols, frames.front().rows);
        tracker.steady = steady;
        int pressedAt[camsteer::kSteeringKeyCount] = {};
        int presses[camsteer::kSteeringKeyCount] = {};
        int taps[camsteer::kSteeringKeyCount] = {};
        camsteer::KeySet before;
        for (size_t f = 0; f < frames.size(); ++f) {
            cv::Mat frame = frames[f].clone();
            tracker.processFrame(frame);
            const camsteer::KeySet now = tracker.directions().keys();
            for (int k = 0; k < camsteer::kSteeringKeyCount; ++k) {
                const auto key = static_cast<camsteer::SteeringKey>(k);
                if (now.test(key) && !before.test(key)) {
                    ++presses[k];
                    pressedAt[k] = static_cast<int>(f);
                } else if (!now.test(key) && before.test(key) &&
                           static_cast<int>(f) - pressedAt[k] <= kTapFrames) {
                    ++taps[k];
                }
            }
            before = now;
        }
        int allPresses = 0;
        int allTaps = 0;
        std::printf("steady %2d:", steady);
        for (int k = 0; k < camsteer::kSteeringKeyCount; ++k) {
            allPresses += presses[k];
            allTaps += taps[k];
            std::printf(" %c %d/%d", "UDLRFB"[k], taps[k], presses[k]);
        }
        std::printf("  all: %d presses, %d undone within %d frames\n", allPresses, allTaps,
                    kTapFrames);
    }
    return 0;
}
