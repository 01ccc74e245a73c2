#include "tracker/passes/hsv_lookup.hpp"

#include <opencv2/imgproc.hpp>

namespace camsteer {

const HsvLookup& HsvLookup::tables() {
    static const HsvLookup made;
    return made;
}

HsvLookup::HsvLookup() : saturation_(256 * 256), hue_(kHueIndexes) {
    // One row of pixels, one of each kind, converted by the library in one call.
    cv::Mat pixels(1, static_cast<int>(saturation_.size() + hue_.size()), CV_8UC3,
                   cv::Scalar::all(0));
    cv::Vec3b* bySaturation = pixels.ptr<cv::Vec3b>(0);
    cv::Vec3b* byHue = bySaturation + saturation_.size();
    for (int v = 0; v < 256; ++v) {
        for (int diff = 0; diff <= v; ++diff) {
            bySaturation[v * 256 + diff] = cv::Vec3b(v, v - diff, v - diff);
        }
    }
    for (int largest = 0; largest < 3; ++largest) {
        for (int diff = 0; diff < 256; ++diff) {
            for (int d = -diff; d <= diff; ++d) {
                // The largest channel 255, the other two 255 - diff and that plus |d|, placed so
                // that their difference is d.
                const uchar low = static_cast<uchar>(255 - diff);
                const uchar plus = static_cast<uchar>(low + std::max(d, 0));
                const uchar minus = static_cast<uchar>(low + std::max(-d, 0));
                const cv::Vec3b kinds[3] = {cv::Vec3b(minus, plus, 255),   // R; d = G - B
                                            cv::Vec3b(plus, 255, minus),   // G; d = B - R
                                            cv::Vec3b(255, minus, plus)};  // B; d = R - G
                byHue[hueIndex(largest, diff, d)] = kinds[largest];
            }
        }
    }
    cv::cvtColor(pixels, pixels, cv::COLOR_BGR2HSV);
    for (size_t i = 0; i < saturation_.size(); ++i) {
        saturation_[i] = bySaturation[i][1];
    }
    for (size_t i = 0; i < hue_.size(); ++i) {
        hue_[i] = byHue[i][0];
    }
}

}  // namespace camsteer
