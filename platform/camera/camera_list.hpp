#pragma once

#include <optional>
#include <string>
#include <vector>

namespace camsteer {

// A device that can capture video: its node (a V4L2 device; none on Windows) and the name it
// reports.
struct CaptureDevice {
    std::string node;  // "/dev/video0"
    std::string name;  // "Integrated Camera"
};
// The name a V4L2 node reports (its card name) when it captures video (a camera); nothing for
// metadata, output or radio nodes and for what is no V4L2 device at all.
std::optional<std::string> captureName(const std::string& node);
// The capture devices, in device-number order. Camera number 1 is the first.
std::vector<CaptureDevice> captureDevices();
int countCameras();
// What "no camera found: " goes on to say: where cameras were looked for and what to do.
extern const char* const kNoCameraAdvice;

}  // namespace camsteer
