#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

namespace camsteer {

// The region search's filter of an 8-bit one-channel image, in place: dilation by a 3 x 3
// square three times, then a 3 x 3 Gaussian blur, both reading beyond the image's edges as
// its edge pixels repeated (`libraryPath`: cv::dilate and cv::GaussianBlur with
// BORDER_REPLICATE | BORDER_ISOLATED).
//
// Three dilations by a 3 x 3 square are the largest value in the 7 x 7 square around each
// pixel, with the coordinates held inside the image: a row maximum and then a column maximum.
// The blur's kernel is 1 2 1 by 1 2 1 over 16, which the library applies in fixed point that
// holds these weights exactly and then rounds half up: (sum + 8) / 16, integer division. `apply`
// does both with byte and 16-bit vector operations, 16 pixels at a time where the processor has
// SSE2 (every x86-64 one does), and is that pair of library calls elsewhere.
class RegionFilter {
  public:
    static void libraryPath(cv::Mat& image);

    // The same pixels as libraryPath. Its working rows are kept for the next call, so calls on
    // images no larger than an earlier one allocate nothing.
    void apply(cv::Mat& image);

  private:
    std::vector<uchar> padded_;      // one row with its repeated edge pixels
    std::vector<uchar> rowMaxima_;   // largest of 7 along each row, the whole image
    std::vector<uchar> dilated_;     // one row of the dilation, padded for the blur
    std::vector<uint16_t> rowSums_;  // 1 2 1 along the rows of the dilation, the whole image
};

}  // namespace camsteer
