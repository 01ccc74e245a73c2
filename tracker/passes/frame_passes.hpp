#pragma once

#include <vector>

#include <opencv2/core.hpp>

namespace camsteer {

// Mirrors an 8-bit 3-channel image left to right in place: the same pixels as
// cv::flip(image, image, 1), in about a tenth of its time where the processor can shuffle bytes
// (SSSE3); elsewhere it is that call.
void mirrorInPlace(cv::Mat& image);

// What cv::rectangle(image, a, b, colour, 2, cv::LINE_8) draws on an 8-bit 3-channel image,
// pixel for pixel, as rows of the colour. The library draws each side as a 3-pixel-wide band
// from corner to corner with a round cap of radius 1 (a plus) at each end; those bands' pixels
// are the colour, whatever lay beneath, and the image's edges clip them.
void paintBox(cv::Mat& image, cv::Point a, cv::Point b, const cv::Scalar& colour);

// A fixed drawing made of opaque strokes (LINE_8, any colours but black), recorded once as the
// runs of pixels it writes and painted again by copying those runs. Opaque strokes write their
// colour over whatever lies beneath, so painting gives what drawing again would give on any
// picture, for a fraction of the drawing's time.
class PaintedRuns {
  public:
    // Records what `draw` writes on a black 8-bit 3-channel picture of `size`.
    template <typename Draw>
    void record(cv::Size size, Draw draw) {
        picture_ = cv::Mat(size, CV_8UC3, cv::Scalar::all(0));
        draw(picture_);
        findRuns();
    }
    // Paints the recorded pixels onto `image`, of the recorded size and type.
    void paint(cv::Mat& image) const;

  private:
    void findRuns();

    struct Run {
        int y, x, length;
    };
    cv::Mat picture_;
    std::vector<Run> runs_;
};

}  // namespace camsteer
