#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <opencv2/videoio.hpp>

#include "platform/capture.hpp"

namespace camsteer {

namespace {

// True for a V4L2 node that captures video (a camera), false for metadata, output or radio nodes.
bool canCapture(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    v4l2_capability cap{};
    const bool ok = ::ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
    ::close(fd);
    if (!ok) {
        return false;
    }
    const unsigned caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    return (caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)) != 0;
}

int deviceNumber(const std::string& name) {
    return std::atoi(name.c_str() + std::strlen("video"));
}

class CameraSource : public FrameSource {
  public:
    CameraSource(int number, int width, int height)
        : number_(number), width_(width), height_(height) {}

    bool open(std::string& why) override {
        const std::vector<std::string> devices = captureDevices();
        if (number_ < 1 || number_ > static_cast<int>(devices.size())) {
            why = devices.empty()
                      ? "no camera found: no video capture device under /dev/video*; connect a "
                        "camera (and check you may read it: group 'video'), or play a recorded "
                        "clip with camsteer_replay REFERENCE CLIP"
                      : "no camera number " + std::to_string(number_) + ": only " +
                            std::to_string(devices.size()) + " video capture device(s) found";
            return false;
        }
        path_ = devices[number_ - 1];
        const int index = deviceNumber(path_.substr(std::strlen("/dev/")));
        if (!capture_.open(index, cv::CAP_V4L2) || !capture_.isOpened()) {
            why = "cannot open camera " + path_ +
                  ": it may be busy in another program, or not readable by you (group 'video')";
            return false;
        }
        capture_.set(cv::CAP_PROP_FRAME_WIDTH, width_);
        capture_.set(cv::CAP_PROP_FRAME_HEIGHT, height_);
        return true;
    }

    bool read(cv::Mat& frame) override { return capture_.read(frame); }

    std::string describe() const override {
        return "camera " + std::to_string(number_) + (path_.empty() ? "" : " (" + path_ + ")");
    }

  private:
    int number_;
    int width_;
    int height_;
    std::string path_;
    cv::VideoCapture capture_;
};

class VideoFileSource : public FrameSource {
  public:
    explicit VideoFileSource(std::string path) : path_(std::move(path)) {}

    bool open(std::string& why) override {
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0) {
            why = "cannot read clip " + path_ + ": " + std::strerror(errno);
            return false;
        }
        if (!S_ISREG(st.st_mode) || ::access(path_.c_str(), R_OK) != 0) {
            why = "cannot read clip " + path_ + ": not a readable file";
            return false;
        }
        if (!openDecoder() || !capture_.read(first_) || first_.empty()) {
            why = "cannot read clip " + path_ + ": not a video this program can decode";
            return false;
        }
        const double fps = capture_.get(cv::CAP_PROP_FPS);
        interval_ = (fps > 0.5 && fps <= 240.0) ? 1.0 / fps : 1.0 / 30.0;
        return true;
    }

    bool read(cv::Mat& frame) override {
        if (!first_.empty()) {
            first_.copyTo(frame);
            first_.release();
            return true;
        }
        if (capture_.read(frame) && !frame.empty()) {
            return true;
        }
        // End of the clip: play it again from the start.
        capture_.set(cv::CAP_PROP_POS_FRAMES, 0);
        if (capture_.read(frame) && !frame.empty()) {
            return true;
        }
        capture_.release();
        return openDecoder() && capture_.read(frame) && !frame.empty();
    }

    std::string describe() const override { return path_; }
    double frameInterval() const override { return interval_; }

  private:
    // Naming the decoder keeps other backends (an image-sequence reader, a media framework) from
    // guessing at a file that is not a video and printing their own complaints.
    bool openDecoder() { return capture_.open(path_, cv::CAP_FFMPEG) && capture_.isOpened(); }

    std::string path_;
    cv::VideoCapture capture_;
    cv::Mat first_;
    double interval_ = 1.0 / 30.0;
};

}  // namespace

std::vector<std::string> captureDevices() {
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
    std::vector<std::string> devices;
    for (const std::string& name : names) {
        const std::string path = "/dev/" + name;
        if (canCapture(path)) {
            devices.push_back(path);
        }
    }
    return devices;
}

int countCameras() {
    return static_cast<int>(captureDevices().size());
}

std::unique_ptr<FrameSource> makeCameraSource(int number, int width, int height) {
    return std::make_unique<CameraSource>(number, width, height);
}

std::unique_ptr<FrameSource> makeVideoFileSource(const std::string& path) {
    return std::make_unique<VideoFileSource>(path);
}

}  // namespace camsteer
