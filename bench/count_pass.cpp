// camsteer_count_pass REFERENCE CLIP [ROUNDS]: the tracker's pass, as the capture thread runs
// it, over every frame of a clip once to warm up (what a pass records once per process, such as
// the outline's segments) and then ROUNDS times (default 2) in `countedPasses`. For instruction
// counts of the pass in the steady state, by segment kind:
//
//   valgrind --tool=callgrind --toggle-collect='*countedPasses*'
//       camsteer_count_pass images/sample_blue.png near.avi
//
// (callgrind_annotate --inclusive=yes splits them by step). Counts are exact and the same on
// a loaded machine, which times are not.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "tracker/tracker.hpp"

namespace {

__attribute__((noinline)) int runPasses(camsteer::Tracker& tracker,
                                        const std::vector<cv::Mat>& frames, int rounds) {
    cv::Mat frame;
    int tracked = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const cv::Mat& f : frames) {
            f.copyTo(frame);
            tracker.processFrame(frame);
            tracked += tracker.coverage() > tracker.trackMinFraction.load();
        }
    }
    return tracked;
}

// The passes counted: the same, under a name of their own for callgrind to toggle on.
__attribute__((noinline)) int countedPasses(camsteer::Tracker& tracker,
                                            const std::vector<cv::Mat>& frames, int rounds) {
    return runPasses(tracker, frames, rounds);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr,
                     "camsteer_count_pass: usage: camsteer_count_pass REFERENCE CLIP "
                     "[ROUNDS]\n");
        return 2;
    }
    cv::setNumThreads(1);
    const cv::Mat reference = cv::imread(argv[1], cv::IMREAD_COLOR);
    cv::VideoCapture clip(argv[2], cv::CAP_FFMPEG);
    const int rounds = argc == 4 ? std::atoi(argv[3]) : 2;
    std::vector<cv::Mat> frames;
    for (cv::Mat frame; clip.read(frame) && !frame.empty();) {
        cv::Mat bottomUp;
        cv::flip(frame, bottomUp, 0);  // the capture thread hands the tracker bottom-up frames
        frames.push_back(bottomUp);
    }
    if (reference.empty() || frames.empty() || rounds < 1) {
        std::fprintf(stderr, "camsteer_count_pass: cannot read %s or %s, or bad ROUNDS\n", argv[1],
                     argv[2]);
        return 1;
    }
    camsteer::Tracker tracker(reference, frames.front().cols, frames.front().rows);
    runPasses(tracker, frames, 1);
    const int tracked = countedPasses(tracker, frames, rounds);
    std::printf("%zu frames x %d rounds, %d with the target tracked\n", frames.size(), rounds,
                tracked);
    return 0;
}
