#pragma once

#include <array>
#include <vector>

#include <opencv2/core.hpp>

namespace camsteer {

// The tracker's HSV conversion, colour band, hue plane, back-projection and masking, which as
// image-library calls are five passes over the frame, in one pass over the BGR frame through
// tables (HsvLookup, and three of 256 entries for the band and the model). The tables are made
// by those same library calls applied to every possible value, so the pass gives bit for bit
// what the calls give, for any pixel values and any settings.
class BandProjection {
  public:
    // The library calls: colour band of `hsv` (Tracker::colourBand), its hue plane
    // back-projected through `model` (16 bins over hues 0..180), masked by the band. `hue` and
    // `mask` are working images.
    static void libraryPath(const cv::Mat& hsv, const cv::Mat& model, int smin, int vmin, int vmax,
                            cv::Mat& hue, cv::Mat& mask, cv::Mat& out);

    // The same result for the BGR frame `bgr` converted to HSV, in one pass; the tables are
    // remade only when the settings or the model changed since the last call. `out` is made
    // once for a given size. Returns the smallest rectangle holding every non-zero pixel of
    // `out`, empty when there is none.
    cv::Rect apply(const cv::Mat& bgr, const cv::Mat& model, int smin, int vmin, int vmax,
                   cv::Mat& out);

  private:
    void makeTables(const cv::Mat& model, int smin, int vmin, int vmax);

    // Per value of each channel: 255 where the value can pass the band, 0 where it cannot; the
    // hue table holds the back-projection of the hue instead of 255.
    std::array<uchar, 256> hueTable_{};
    std::array<uchar, 256> saturationTable_{};
    std::array<uchar, 256> valueTable_{};
    // The hue table through the conversion's hue, by HsvLookup::hueIndex: what a pixel that
    // passes S and V projects to.
    std::vector<uchar> projection_;
    // Both of those for a pixel's V and diff, [v * 256 + diff], 255 where it passes.
    std::vector<uchar> svTable_;
    // The smallest diff (largest channel less the smallest) with which a pixel can pass the S
    // test at a V that passes (256: none), and the V table as the interval it passes when it is
    // one (cv::inRange's always is): pixels outside both are skipped 16 at a time where the
    // processor can.
    int smallestDiff_ = 256;
    bool valueInterval_ = false;
    uchar valueLow_ = 255, valueHigh_ = 0;
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
