#pragma once

#include <mutex>
#include <utility>

#include <opencv2/core.hpp>

namespace camsteer {

// Hands the newest finished picture from the capture thread to the main thread, which alone
// may make window calls. Older pictures not yet shown are simply replaced. Two buffers take
// turns, so after the first frames no picture allocates.
class LatestPicture {
  public:
    void post(const cv::Mat& picture) {
        std::lock_guard<std::mutex> guard(lock_);
        picture.copyTo(pending_);
        fresh_ = true;
    }

    // Moves the newest picture into `out` when one came since the last take.
    bool take(cv::Mat& out) {
        std::lock_guard<std::mutex> guard(lock_);
        if (!fresh_) {
            return false;
        }
        std::swap(out, pending_);
        fresh_ = false;
        return true;
    }

  private:
    std::mutex lock_;
    cv::Mat pending_;
    bool fresh_ = false;
};

}  // namespace camsteer
