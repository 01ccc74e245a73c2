#include "tracker/passes/hue_to_bgr.hpp"

#include <cmath>

namespace camsteer {

cv::Scalar hueToBgr(float hue) {
    // Which channel is full, which is empty and which ramps, per sixth of the hue circle
    // (indices: 0 red, 1 green, 2 blue).
    static const int sectorTable[6][3] = {{0, 2, 1}, {1, 2, 0}, {1, 0, 2},
                                          {2, 0, 1}, {2, 1, 0}, {0, 1, 2}};
    // Single precision throughout, so the bar colours come out the same on every machine.
    const float h = hue * 0.033333335f;
    const int sector = static_cast<int>(std::floor(h));
    int p = static_cast<int>(std::nearbyint((h - static_cast<float>(sector)) * 255.0f));
    if (sector & 1) {
        p ^= 255;
    }
    const int* row = sectorTable[((sector % 6) + 6) % 6];
    int rgb[3];
    rgb[row[0]] = 255;
    rgb[row[1]] = 0;
    rgb[row[2]] = p;
    return cv::Scalar(rgb[2], rgb[1], rgb[0], 0);
}

}  // namespace camsteer
