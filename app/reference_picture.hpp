#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace camsteer {

// The largest reference picture accepted, in pixels: 8K UHD (7680 x 4320) fits. Decoded as
// 8-bit BGR that is at most 96 MiB, and the hue model's working copies take as much again.
// A reference only needs enough pixels to show the target's colour.
constexpr long long kMaxReferencePixels = 1LL << 25;

// Loads the reference picture as the program does: any format the image library reads, as
// 8-bit BGR (grey pictures widened, alpha and depth beyond 8 bits dropped). A picture with
// more than kMaxReferencePixels is refused before its pixels are decoded, anything but a
// regular file before it is opened. Empty on failure, with a one-line reason in `why`.
cv::Mat loadReferencePicture(const std::string& path, std::string& why);
// The same for a picture already in memory.
cv::Mat decodeReferencePicture(const std::vector<uchar>& bytes, std::string& why);

// Writes `picture` to `path` so that `path` always holds a whole picture: encoded by the name's
// extension, then put in place in one step (replaceFile). The folder is created when missing.
// False with a one-line reason on failure, which leaves `path` as it was.
bool writePictureAtomically(const std::string& path, const cv::Mat& picture, std::string& why);

}  // namespace camsteer
