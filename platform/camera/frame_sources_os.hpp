#pragma once

namespace camsteer {

// The OpenCV backend that decodes clips: FFmpeg on Linux; on Windows, which has no FFmpeg
// here, OpenCV's own reader of MJPEG AVI files, the kind the clip maker writes.
extern const int kClipDecoder;

}  // namespace camsteer
