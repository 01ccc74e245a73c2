#pragma once

#include <algorithm>
#include <vector>

#include <opencv2/core.hpp>

namespace camsteer {

// The image library's 8-bit BGR to HSV conversion (cv::cvtColor, COLOR_BGR2HSV), looked up
// instead of computed. V is the largest channel; S depends only on V and diff, the largest
// channel less the smallest; H only on which channel is the largest (R before G before B where
// they tie), on diff and on the difference of the other two (G - B, B - R, R - G in that
// order). Each table entry is what the library converts one pixel of its kind to; a unit test
// checks all 2^24 BGR values against the library.
class HsvLookup {
  public:
    static const HsvLookup& tables();

    uchar saturation(int v, int diff) const {
        return saturation_[static_cast<size_t>(v * 256 + diff)];
    }
    uchar hue(int b, int g, int r, int v, int diff) const {
        const int largest = v == r ? 0 : v == g ? 1 : 2;
        const int d = largest == 0 ? g - b : largest == 1 ? b - r : r - g;
        return hue_[static_cast<size_t>(hueIndex(largest, diff, d))];
    }
    cv::Vec3b convert(int b, int g, int r) const {
        const int v = std::max(b, std::max(g, r));
        const int diff = v - std::min(b, std::min(g, r));
        return cv::Vec3b(hue(b, g, r, v, diff), saturation(v, diff), static_cast<uchar>(v));
    }

    // The hue by its index: `largest` 0 for R, 1 for G, 2 for B; d the difference of the other
    // two as above.
    static int hueIndex(int largest, int diff, int d) {
        return (largest * 256 + diff) * 512 + 256 + d;
    }
    static constexpr int kHueIndexes = 3 * 256 * 512;  // every index hueIndex gives
    uchar hueAt(int index) const { return hue_[static_cast<size_t>(index)]; }

  private:
    HsvLookup();

    std::vector<uchar> saturation_;  // [v * 256 + diff]
    std::vector<uchar> hue_;         // [hueIndex(...)]
};

}  // namespace camsteer
