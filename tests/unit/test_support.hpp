#pragma once

#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/keys/keyboard.hpp"

namespace camsteer::testing {

// A keyboard that remembers what it was asked to do.
class RecordingKeyboard : public Keyboard {
  public:
    void key(SteeringKey key, bool down) override { events.emplace_back(key, down); }
    void flush() override { ++flushes; }
    const char* name() const override { return "recording"; }

    std::vector<std::pair<int, bool>> events;
    int flushes = 0;
};

// A one-colour reference picture.
inline cv::Mat swatch(const cv::Scalar& bgr, int size = 32) {
    return cv::Mat(size, size, CV_8UC3, bgr);
}

// Saturated blue, but not the overlay's pure blue, so box and target can be told apart.
const cv::Scalar kBlue(230, 20, 0);
const cv::Scalar kGrey(128, 128, 128);

// A grey 320 x 240 frame, as the tracker receives it, with blue rectangles in it.
inline cv::Mat frameWith(const std::vector<cv::Rect>& targets) {
    cv::Mat frame(240, 320, CV_8UC3, kGrey);
    for (const cv::Rect& r : targets) {
        cv::rectangle(frame, r, kBlue, cv::FILLED);
    }
    return frame;
}

}  // namespace camsteer::testing
