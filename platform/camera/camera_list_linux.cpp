#include "platform/camera/camera_list.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace camsteer {

const char* const kNoCameraAdvice =
    "no video capture device under /dev/video*; connect a camera and check you may read it "
    "(group 'video')";

namespace {

int deviceNumber(const std::string& name) {
    return std::atoi(name.c_str() + std::strlen("video"));
}

}  // namespace

std::optional<std::string> captureName(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    v4l2_capability cap{};
    const bool ok = ::ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
    ::close(fd);
    if (!ok) {
        return std::nullopt;
    }
    const unsigned caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if ((caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)) == 0) {
        return std::nullopt;
    }
    const char* card = reinterpret_cast<const char*>(cap.card);
    return std::string(card, strnlen(card, sizeof(cap.card)));
}

std::vector<CaptureDevice> captureDevices() {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir("/dev")) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind("video", 0) == 0 && name.size() > 5 &&
                std::all_of(name.begin() + 5, name.end(), ::isdigit)) {
                names.push_back(name);
            }
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return deviceNumber(a) < deviceNumber(b);
    });
    std::vector<CaptureDevice> devices;
    for (const std::string& name : names) {
        const std::string path = "/dev/" + name;
        if (std::optional<std::string> card = captureName(path)) {
            devices.push_back(CaptureDevice{path, std::move(*card)});
        }
    }
    return devices;
}

int countCameras() {
    return static_cast<int>(captureDevices().size());
}

}  // namespace camsteer
