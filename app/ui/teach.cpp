#include "app/ui/teach.hpp"

#include <algorithm>
#include <vector>

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

namespace camsteer {

namespace {

cv::Point clampTo(cv::Point p, cv::Size picture) {
    return cv::Point(std::clamp(p.x, 0, picture.width), std::clamp(p.y, 0, picture.height));
}

}  // namespace

std::optional<cv::Rect> SelectionDrag::onMouse(int event, int x, int y, cv::Size picture) {
    picture_ = picture;
    const cv::Point at = clampTo(cv::Point(x, y), picture);
    switch (event) {
        case cv::EVENT_LBUTTONDOWN:
            dragging_ = true;
            anchor_ = corner_ = at;
            break;
        case cv::EVENT_MOUSEMOVE:
            if (dragging_) {
                corner_ = at;
            }
            break;
        case cv::EVENT_LBUTTONUP:
            if (dragging_) {
                corner_ = at;
                dragging_ = false;
                const cv::Rect selected(anchor_, corner_);
                if (selected.area() > 0) {
                    return selected;
                }
            }
            break;
        default:
            break;
    }
    return std::nullopt;
}

cv::Rect SelectionDrag::current() const {
    return dragging_ ? cv::Rect(anchor_, corner_) : cv::Rect();
}

void SelectionDrag::drawOn(cv::Mat& shown) const {
    const cv::Rect r = current();
    if (r.area() > 0) {
        // Yellow stands out against the overlay's white, green, red and blue.
        cv::rectangle(shown, r, cv::Scalar(0, 255, 255), 1, cv::LINE_8);
    }
}

void CleanFrameTap::offer(const cv::Mat& bottomUpFrame) {
    if (!asked_.load(std::memory_order_relaxed)) {
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    bottomUpFrame.copyTo(copy_);
    ready_ = true;
    asked_ = false;
}

bool CleanFrameTap::take(cv::Mat& bottomUpFrame) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!ready_) {
        return false;
    }
    bottomUpFrame = copy_;
    copy_ = cv::Mat();
    ready_ = false;
    return true;
}

cv::Mat cutSelection(const cv::Mat& bottomUpFrame, const cv::Rect& shownRect) {
    const int w = bottomUpFrame.cols;
    const int h = bottomUpFrame.rows;
    const cv::Rect inside = shownRect & cv::Rect(0, 0, w, h);
    if (inside.area() <= 0) {
        return cv::Mat();
    }
    // Shown column x is frame column w-1-x (the mirror); shown row y is frame row h-1-y (the
    // frame is bottom-up). So the selection's columns and rows both run backwards in the frame;
    // turning the rows back gives the scene upright and as the camera saw it.
    const cv::Rect inFrame(w - inside.x - inside.width, h - inside.y - inside.height, inside.width,
                           inside.height);
    cv::Mat upright;
    cv::flip(bottomUpFrame(inFrame), upright, 0);
    return upright;
}

void Teaching::onMouse(int event, int x, int y, cv::Size picture) {
    if (const std::optional<cv::Rect> selected = drag_.onMouse(event, x, y, picture)) {
        pending_ = selected;
        tap_.ask();
    }
}

cv::Mat Teaching::takeReference() {
    cv::Mat frame;
    if (!pending_ || !tap_.take(frame)) {
        return cv::Mat();
    }
    const cv::Rect selected = *pending_;
    pending_.reset();
    return cutSelection(frame, selected);
}

}  // namespace camsteer
