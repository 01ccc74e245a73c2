#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

namespace camsteer {

// The rectangle the user drags with the left mouse button over the camera picture as shown
// (upright and mirrored). Main thread: fed from the window's mouse events.
class SelectionDrag {
  public:
    // One mouse event (highgui's event code), at (x, y) in the shown picture of size `picture`.
    // Returns the selection when a drag that encloses some area ends; a click gives nothing.
    std::optional<cv::Rect> onMouse(int event, int x, int y, cv::Size picture);
    bool dragging() const { return dragging_; }
    // The rectangle being dragged, empty when none.
    cv::Rect current() const;
    // Draws the rectangle being dragged onto the shown picture.
    void drawOn(cv::Mat& shown) const;

  private:
    bool dragging_ = false;
    cv::Point anchor_;
    cv::Point corner_;
    cv::Size picture_;
};

// One clean copy of a camera frame, taken before the tracker mirrors it and draws on it, made
// only when the main thread has asked for it: frames cost nothing extra otherwise.
class CleanFrameTap {
  public:
    // Main thread: the next frame offered is kept.
    void ask() { asked_ = true; }
    // Capture thread, with the frame as the camera delivered it (bottom-up, not mirrored).
    void offer(const cv::Mat& bottomUpFrame);
    // Main thread: the frame kept since the last ask, if it has come.
    bool take(cv::Mat& bottomUpFrame);

  private:
    std::atomic<bool> asked_{false};
    std::mutex lock_;
    cv::Mat copy_;  // under lock_
    bool ready_ = false;
};

// The part of a clean bottom-up frame that `shownRect` selects in the picture as shown (upright,
// mirrored), as an upright picture of the real scene (not mirrored).
cv::Mat cutSelection(const cv::Mat& bottomUpFrame, const cv::Rect& shownRect);

// Teaching by dragging, as the main thread drives it: mouse events in, the drawn selection on
// the shown picture, and the new reference picture once the frame asked for has come.
class Teaching {
  public:
    void onMouse(int event, int x, int y, cv::Size picture);
    void decorate(cv::Mat& shown) const { drag_.drawOn(shown); }
    // The newly taught reference picture, empty while none is due.
    cv::Mat takeReference();
    CleanFrameTap& tap() { return tap_; }

  private:
    SelectionDrag drag_;
    std::optional<cv::Rect> pending_;
    CleanFrameTap tap_;
};

}  // namespace camsteer
