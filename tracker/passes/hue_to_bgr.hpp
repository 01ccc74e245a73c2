#pragma once

#include <opencv2/core.hpp>

namespace camsteer {

// Turns a hue in 0..180 (OpenCV's 8-bit hue, degrees halved) into a fully saturated,
// full-brightness display colour (B, G, R, 0).
cv::Scalar hueToBgr(float hue);

}  // namespace camsteer
