// camsteer_floor_view CLIP: the least a program can do to show a camera-like clip the way
// camsteer does, written as a plain image-library program. It decodes the clip at its own frame
// rate (from the start again after its end), scales each frame to 320 x 240 and shows it in two
// windows, dispatching window events with waitKey(1) and sleeping to the next frame.
// scripts/bench runs it alternately with camsteer_replay on the same clip and compares their CPU
// time: what camsteer costs beyond this floor is its own work.
#include <chrono>
#include <cstdio>
#include <thread>

#include <opencv2/core.hpp>
#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "camsteer_floor_view: usage: camsteer_floor_view CLIP\n");
        return 2;
    }
    // The same library thread setting as camsteer, so that the comparison is of the work done.
    cv::setNumThreads(1);
    cv::VideoCapture clip(argv[1], cv::CAP_FFMPEG);
    if (!clip.isOpened()) {
        std::fprintf(stderr, "camsteer_floor_view: cannot open %s; give an MJPEG clip\n", argv[1]);
        return 1;
    }
    const double fps = clip.get(cv::CAP_PROP_FPS);
    const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(fps > 0.5 ? 1.0 / fps : 1.0 / 30.0));

    cv::namedWindow("first", cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
    cv::namedWindow("second", cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
    cv::Mat frame;
    cv::Mat small;
    auto due = std::chrono::steady_clock::now();
    for (;;) {
        if (!clip.read(frame) || frame.empty()) {
            clip.set(cv::CAP_PROP_POS_FRAMES, 0);
            if (!clip.read(frame) || frame.empty()) {
                std::fprintf(stderr, "camsteer_floor_view: cannot read %s\n", argv[1]);
                return 1;
            }
        }
        cv::resize(frame, small, cv::Size(320, 240), 0, 0, cv::INTER_AREA);
        cv::imshow("first", small);
        cv::imshow("second", small);
        if (cv::waitKey(1) == 27) {
            return 0;
        }
        due += interval;
        std::this_thread::sleep_until(due);
    }
}
