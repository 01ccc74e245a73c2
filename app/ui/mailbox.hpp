#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include <opencv2/core.hpp>

namespace camsteer {

// Hands the newest finished picture from the capture thread to the main thread, which alone
// may make window calls. Older pictures not yet shown are simply replaced. Three buffers take
// turns (the poster's, the pending one, the taker's), so after the first frames no picture
// allocates.
class LatestPicture {
  public:
    // Copies `picture` in.
    void post(const cv::Mat& picture) {
        std::lock_guard<std::mutex> guard(lock_);
        picture.copyTo(pending_);
        fresh_ = true;
    }

    // Takes `picture` over without copying it: `picture` comes back holding a buffer no longer
    // in use (an older picture, or empty at first), for the next picture to be drawn into.
    void handOver(cv::Mat& picture) {
        std::lock_guard<std::mutex> guard(lock_);
        std::swap(picture, pending_);
        fresh_ = true;
    }

    // Moves the newest picture into `out` when one came since the last take. `out`'s previous
    // buffer goes back into circulation, so the taker keeps no other reference to it.
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

// Lets the main thread sleep between window updates until the capture thread has a new picture
// for it, instead of waking every millisecond to look.
class PictureSignal {
  public:
    void notify() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            ready_ = true;
        }
        wake_.notify_one();
    }

    // Returns when notified (at once if that happened since the last wait) or after `timeout`.
    void waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> guard(lock_);
        wake_.wait_for(guard, timeout, [this] { return ready_; });
        ready_ = false;
    }

  private:
    std::mutex lock_;
    std::condition_variable wake_;
    bool ready_ = false;
};

}  // namespace camsteer
