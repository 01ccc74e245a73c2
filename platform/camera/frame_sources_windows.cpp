#include <opencv2/videoio.hpp>

#include "platform/camera/camera_list.hpp"
#include "platform/camera/frame_sources.hpp"
#include "platform/camera/frame_sources_os.hpp"
#include "platform/process/quoted_name.hpp"

namespace camsteer {

const int kClipDecoder = cv::CAP_OPENCV_MJPEG;

namespace {

// A DirectShow camera, by number (1 = the first) or by the name it reports.
class CameraSource : public FrameSource {
  public:
    CameraSource(int number, std::string name, int width, int height)
        : number_(number), name_(std::move(name)), width_(width), height_(height) {}

    bool open(std::string& why) override {
        const std::vector<CaptureDevice> devices = captureDevices();
        if (!name_.empty()) {
            number_ = 0;
            for (size_t i = 0; i < devices.size() && number_ == 0; ++i) {
                if (devices[i].name == name_) {
                    number_ = static_cast<int>(i) + 1;
                }
            }
            if (number_ == 0) {
                why = "no camera named " + quotedName(name_) + "; see camsteer --list-cameras";
                return false;
            }
        } else if (number_ < 1 || number_ > static_cast<int>(devices.size())) {
            why = devices.empty()
                      ? "no camera found: no video capture device; connect a camera, or play a "
                        "recorded clip with camsteer_replay REFERENCE CLIP"
                      : "no camera number " + std::to_string(number_) + ": only " +
                            std::to_string(devices.size()) +
                            " video capture device(s) found; see camsteer --list-cameras";
            return false;
        } else {
            name_ = devices[number_ - 1].name;
        }
        if (!capture_.open(number_ - 1, cv::CAP_DSHOW) || !capture_.isOpened()) {
            why = "cannot open " + describe() + ": it may be busy in another program";
            return false;
        }
        capture_.set(cv::CAP_PROP_FRAME_WIDTH, width_);
        capture_.set(cv::CAP_PROP_FRAME_HEIGHT, height_);
        return true;
    }

    // DirectShow's read waits for the camera's next frame; a camera that stops sending is
    // caught by the run watch, which sees no frame arrive.
    bool read(cv::Mat& frame) override { return capture_.read(frame) && !frame.empty(); }

    std::string describe() const override {
        return "camera " + std::to_string(number_) +
               (name_.empty() ? "" : " (" + quotedName(name_) + ")");
    }

  private:
    int number_;
    std::string name_;
    int width_;
    int height_;
    cv::VideoCapture capture_;
};

}  // namespace

std::unique_ptr<FrameSource> makeCameraSource(int number, int width, int height) {
    return std::make_unique<CameraSource>(number, std::string(), width, height);
}

std::unique_ptr<FrameSource> makeCameraSource(const std::string& name, int width, int height) {
    return std::make_unique<CameraSource>(1, name, width, height);
}

}  // namespace camsteer
