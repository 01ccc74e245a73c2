// Colours shared by the picture and clip generators.
#pragma once

#include <opencv2/core/types.hpp>

namespace camsteer::images {

// The blue of sample_blue.png and of the ball in the generated clips (BGR).
inline const cv::Scalar kBlueBgr(255, 64, 0);
// The red of sample_red.png (BGR). Green sits a little above blue so the hue
// stays just above 0 instead of wrapping round to 179.
inline const cv::Scalar kRedBgr(10, 20, 230);

}  // namespace camsteer::images
