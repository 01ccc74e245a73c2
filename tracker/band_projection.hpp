#pragma once

#include <array>

#include <opencv2/core.hpp>

namespace camsteer {

// The tracker's colour band, hue plane, back-projection and masking, which as image-library
// calls are four passes over the frame, in one pass over the HSV image through three tables of
// 256 entries. The tables are made by those same library calls applied to every possible value,
// so the pass gives bit for bit what the calls give, for any pixel values and any settings.
class BandProjection {
  public:
    // The library calls: colour band of `hsv` (Tracker::colourBand), its hue plane
    // back-projected through `model` (16 bins over hues 0..180), masked by the band. `hue` and
    // `mask` are working images.
    static void libraryPath(const cv::Mat& hsv, const cv::Mat& model, int smin, int vmin, int vmax,
                            cv::Mat& hue, cv::Mat& mask, cv::Mat& out);

    // The same result in one pass; the tables are remade only when the settings or the model
    // changed since the last call. `out` is made once for a given size. Returns the smallest
    // rectangle holding every non-zero pixel of `out`, empty when there is none.
    cv::Rect apply(const cv::Mat& hsv, const cv::Mat& model, int smin, int vmin, int vmax,
                   cv::Mat& out);

  private:
    void makeTables(const cv::Mat& model, int smin, int vmin, int vmax);

    // Per value of each channel: 255 where the value can pass the band, 0 where it cannot; the
    // hue table holds the back-projection of the hue instead of 255.
    std::array<uchar, 256> hueTable_{};
    std::array<uchar, 256> saturationTable_{};
    std::array<uchar, 256> valueTable_{};
    // The S and V tables as intervals of passing values, when they are such (cv::inRange's
    // always are): the pass then tests 16 pixels at once where the processor can.
    bool intervals_ = false;
    uchar saturationLow_ = 255, saturationHigh_ = 0, valueLow_ = 255, valueHigh_ = 0;
    // What the tables were made for.
    bool made_ = false;
    int smin_ = 0;
    int vmin_ = 0;
    int vmax_ = 0;
    cv::Mat model_;
    // Working images of the table making, kept so that remaking allocates nothing new.
    cv::Mat ramp_, rampMask_, rampOut_;
};

}  // namespace camsteer
