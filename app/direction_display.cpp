#include "app/direction_display.hpp"

#include <opencv2/imgproc.hpp>

namespace camsteer {

const std::array<const char*, kArrowCount> kArrowFiles = {
    "arrow_downleft.bmp", "arrow_down.bmp",    "arrow_downright.bmp", "arrow_left.bmp",
    "arrow_default.bmp",  "arrow_right.bmp",   "arrow_upleft.bmp",    "arrow_up.bmp",
    "arrow_upright.bmp",  "arrow_forward.bmp", "arrow_back.bmp"};

int chooseArrow(const DirectionFlags& f) {
    // Later rules override earlier ones.
    int index = kDefaultArrow;
    if (f.up)
        index = 7;
    if (f.down)
        index = 1;
    if (f.left)
        index = 3;
    if (f.right)
        index = 5;
    if (f.up && f.right)
        index = 8;
    if (f.up && f.left)
        index = 6;
    if (f.down && f.left)
        index = 0;
    if (f.down && f.right)
        index = 2;
    if (f.forward)
        index = 9;
    if (f.back)
        index = 10;
    return index;
}

void drawDirection(cv::Mat& picture, cv::Point centre, double coverage, int nearPos, int farPos,
                   cv::Size captureSize) {
    const int pw = picture.cols;
    const int ph = picture.rows;
    const double x = centre.x;
    const double y = centre.y;
    // Real values become pixel coordinates by truncation; y is turned over because the frame's
    // rows count from the bottom and the picture's from the top.
    const cv::Point marker(static_cast<int>(x / captureSize.width * pw),
                           static_cast<int>(ph - ph * (y / captureSize.height)));
    cv::circle(picture, marker, 3, cv::Scalar(0, 255, 0), cv::FILLED, cv::LINE_8);
    cv::rectangle(picture, cv::Point(pw - 10, static_cast<int>(coverage * ph)), cv::Point(pw, ph),
                  cv::Scalar(255, 100, 0), cv::FILLED, cv::LINE_8);
    const int nearY = ph * nearPos / 100;
    const int farY = ph * farPos / 100;
    cv::line(picture, cv::Point(pw - 15, nearY), cv::Point(pw, nearY), cv::Scalar(0, 0, 0), 1,
             cv::LINE_8);
    cv::line(picture, cv::Point(pw - 15, farY), cv::Point(pw, farY), cv::Scalar(0, 0, 0), 1,
             cv::LINE_8);
}

}  // namespace camsteer
