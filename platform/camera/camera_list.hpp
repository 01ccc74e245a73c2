#pragma once

#include <optional>
#include <string>
#include <vector>

namespace camsteer {

// A V4L2 device that can capture video: its node and the name it reports.
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

}  // namespace camsteer
