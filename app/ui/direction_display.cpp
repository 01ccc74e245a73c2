#include "app/ui/direction_display.hpp"

#include <opencv2/imgproc.hpp>

namespace camsteer {

const std::array<const char*, kArrowCount> kArrowFiles = {
    "arrow_downleft.bmp", "arrow_down.bmp",    "arrow_downright.bmp", "arrow_left.bmp",
    "arrow_default.bmp",  "arrow_right.bmp",   "arrow_upleft.bmp",    "arrow_up.bmp",
    "arrow_upright.bmp",  "arrow_forward.bmp", "arrow_back.bmp"};

Arrow chooseArrow(const DirectionFlags& f) {
    // Later rules override earlier ones.
    Arrow arrow = kDefaultArrow;
    if (f.up)
        arrow = kArrowUp;
    if (f.down)
        arrow = kArrowDown;
    if (f.left)
        arrow = kArrowLeft;
    if (f.right)
        arrow = kArrowRight;
    if (f.up && f.right)
        arrow = kArrowUpRight;
    if (f.up && f.left)
        arrow = kArrowUpLeft;
    if (f.down && f.left)
        arrow = kArrowDownLeft;
    if (f.down && f.right)
        arrow = kArrowDownRight;
    if (f.forward)
        arrow = kArrowForward;
    if (f.back)
        arrow = kArrowBack;
    return arrow;
}

DirectionMarks directionMarks(Arrow arrow, cv::Point centre, double coverage, int nearPos,
                              int farPos, cv::Size captureSize, cv::Size pictureSize) {
    const int pw = pictureSize.width;
    const int ph = pictureSize.height;
    const double x = centre.x;
    const double y = centre.y;
    DirectionMarks marks;
    marks.arrow = arrow;
    // Real values become pixel coordinates by truncation; y is turned over because the frame's
    // rows count from the bottom and the picture's from the top.
    marks.marker = cv::Point(static_cast<int>(x / captureSize.width * pw),
                             static_cast<int>(ph - ph * (y / captureSize.height)));
    marks.barTop = static_cast<int>(coverage * ph);
    marks.nearY = ph * nearPos / 100;
    marks.farY = ph * farPos / 100;
    return marks;
}

void drawDirection(cv::Mat& picture, const DirectionMarks& marks) {
    const int pw = picture.cols;
    const int ph = picture.rows;
    cv::circle(picture, marks.marker, 3, cv::Scalar(0, 255, 0), cv::FILLED, cv::LINE_8);
    cv::rectangle(picture, cv::Point(pw - 10, marks.barTop), cv::Point(pw, ph),
                  cv::Scalar(255, 100, 0), cv::FILLED, cv::LINE_8);
    for (const int tickY : {marks.nearY, marks.farY}) {
        cv::line(picture, cv::Point(pw - 15, tickY), cv::Point(pw, tickY), cv::Scalar(0, 0, 0), 1,
                 cv::LINE_8);
    }
}

void drawDirection(cv::Mat& picture, cv::Point centre, double coverage, int nearPos, int farPos,
                   cv::Size captureSize) {
    drawDirection(picture, directionMarks(kDefaultArrow, centre, coverage, nearPos, farPos,
                                          captureSize, picture.size()));
}

}  // namespace camsteer
