#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <opencv2/videoio.hpp>

#include "platform/camera/camera_list.hpp"
#include "platform/camera/frame_sources.hpp"
#include "platform/camera/frame_sources_os.hpp"
#include "platform/process/quoted_name.hpp"

namespace camsteer {

const int kClipDecoder = cv::CAP_FFMPEG;

namespace {

class CameraSource : public FrameSource {
  public:
    // By number (1 = the first capture device) or, when `path` is given, by device node.
    CameraSource(int number, std::string path, int width, int height)
        : number_(number),
          path_(std::move(path)),
          byPath_(!path_.empty()),
          width_(width),
          height_(height) {}

    bool open(std::string& why) override {
        if (byPath_) {
            struct stat st {};
            if (::stat(path_.c_str(), &st) != 0) {
                why = "cannot open camera " + quotedName(path_) + ": " + std::strerror(errno) +
                      "; see camsteer --list-cameras";
                return false;
            }
            if (!captureName(path_)) {
                why = "cannot open camera " + quotedName(path_) +
                      ": not a video capture device you may read; see camsteer --list-cameras";
                return false;
            }
        } else {
            const std::vector<CaptureDevice> devices = captureDevices();
            if (number_ < 1 || number_ > static_cast<int>(devices.size())) {
                why = devices.empty()
                          ? "no camera found: no video capture device under /dev/video*; connect "
                            "a camera (and check you may read it: group 'video'), or play a "
                            "recorded clip with camsteer_replay REFERENCE CLIP"
                          : "no camera number " + std::to_string(number_) + ": only " +
                                std::to_string(devices.size()) +
                                " video capture device(s) found; see camsteer --list-cameras";
                return false;
            }
            path_ = devices[number_ - 1].node;
        }
        if (!capture_.open(path_, cv::CAP_V4L2) || !capture_.isOpened()) {
            why = "cannot open camera " + quotedName(path_) +
                  ": it may be busy in another program, or not readable by you (group 'video')";
            return false;
        }
        capture_.set(cv::CAP_PROP_FRAME_WIDTH, width_);
        capture_.set(cv::CAP_PROP_FRAME_HEIGHT, height_);
        streams_ = {capture_};  // shares the device with capture_
        return true;
    }

    // OpenCV's own V4L2 read waits up to 10 s for a frame that does not come. Waiting on the
    // device a bounded time instead turns a stalled camera into failed reads, which the capture
    // thread counts towards the loss within its loss timeout.
    bool read(cv::Mat& frame) override {
        std::vector<int> ready;
        try {
            if (!cv::VideoCapture::waitAny(streams_, ready, kReadBoundNs) || ready.empty()) {
                return false;
            }
        } catch (const cv::Exception&) {
            return capture_.read(frame);  // a backend without the bounded wait
        }
        return capture_.retrieve(frame);
    }

    std::string describe() const override {
        if (byPath_) {
            return "camera " + quotedName(path_);
        }
        return "camera " + std::to_string(number_) +
               (path_.empty() ? "" : " (" + quotedName(path_) + ")");
    }

  private:
    static constexpr int64_t kReadBoundNs = 100'000'000;  // 0.1 s; 0 would mean no bound

    int number_;
    std::string path_;
    bool byPath_;
    int width_;
    int height_;
    cv::VideoCapture capture_;
    std::vector<cv::VideoCapture> streams_;
};

}  // namespace

std::unique_ptr<FrameSource> makeCameraSource(int number, int width, int height) {
    return std::make_unique<CameraSource>(number, std::string(), width, height);
}

std::unique_ptr<FrameSource> makeCameraSource(const std::string& node, int width, int height) {
    return std::make_unique<CameraSource>(1, node, width, height);
}

}  // namespace camsteer
