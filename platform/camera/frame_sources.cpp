#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include <opencv2/videoio.hpp>

#include "platform/camera/frame_sources.hpp"
#include "platform/camera/frame_sources_os.hpp"
#include "platform/process/quoted_name.hpp"

namespace camsteer {

namespace {

class VideoFileSource : public FrameSource {
  public:
    explicit VideoFileSource(std::string path) : path_(std::move(path)) {}

    bool open(std::string& why) override {
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0) {
            why = "cannot read clip " + quotedName(path_) + ": " + std::strerror(errno);
            return false;
        }
        if (!S_ISREG(st.st_mode) || ::access(path_.c_str(), R_OK) != 0) {
            why = "cannot read clip " + quotedName(path_) + ": not a readable file";
            return false;
        }
        if (!openDecoder() || !capture_.read(first_) || first_.empty()) {
            why = "cannot read clip " + quotedName(path_) + ": not a video this program can decode";
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

    std::string describe() const override { return quotedName(path_); }
    double frameInterval() const override { return interval_; }

  private:
    // Naming the decoder keeps other backends (an image-sequence reader, a media framework) from
    // guessing at a file that is not a video and printing their own complaints.
    bool openDecoder() { return capture_.open(path_, kClipDecoder) && capture_.isOpened(); }

    std::string path_;
    cv::VideoCapture capture_;
    cv::Mat first_;
    double interval_ = 1.0 / 30.0;
};

}  // namespace

std::unique_ptr<FrameSource> makeVideoFileSource(const std::string& path) {
    return std::make_unique<VideoFileSource>(path);
}

}  // namespace camsteer
