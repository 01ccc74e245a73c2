#pragma once

#include <memory>
#include <string>

#include "platform/camera/capture.hpp"

namespace camsteer {

// Camera `number` (1-based) at the requested size, through OpenCV's V4L2 backend.
std::unique_ptr<FrameSource> makeCameraSource(int number, int width, int height);
// The camera at device node `node` ("/dev/video2").
std::unique_ptr<FrameSource> makeCameraSource(const std::string& node, int width, int height);
// A video file played at its own frame rate, from the start again after its end.
std::unique_ptr<FrameSource> makeVideoFileSource(const std::string& path);

}  // namespace camsteer
