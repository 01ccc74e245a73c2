#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

namespace camsteer {

// Where frames come from: a camera, a video file, or a test's own source.
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // Opens the source; false with a one-line reason when it cannot be used.
    virtual bool open(std::string& why) = 0;
    // Waits for the next frame and stores it top-down (row 0 at the top), 8-bit BGR or grey,
    // of whatever size the source has. False when no frame came this time.
    virtual bool read(cv::Mat& frame) = 0;
    // What the source is, for messages ("camera 1 (/dev/video0)", "clip.avi").
    virtual std::string describe() const = 0;
    // Seconds from one frame to the next when the capture thread must pace the source itself
    // (a file); 0 for a source that waits for its frames (a camera).
    virtual double frameInterval() const { return 0.0; }
};

// Runs a frame source on a capture thread of its own. Each frame is scaled to the rendering
// size, turned bottom-up (row 0 at the bottom) and handed to the frame callback, which may
// change it in place; the result is turned upright again and handed to the render callback.
// The render callback may keep the upright picture by swapping it for a buffer of its own (a
// picture mailbox does, to hand it on without a copy); the next frame is turned into whatever
// buffer it leaves.
class Capture {
  public:
    using FrameCallback = std::function<void(cv::Mat& bottomUpFrame)>;
    using RenderCallback = std::function<void(cv::Mat& uprightFrame)>;

    Capture() = default;
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    ~Capture();

    void setSource(std::unique_ptr<FrameSource> source);
    void setRenderingSize(int width, int height);
    void setCallback(FrameCallback callback);
    void setRender(RenderCallback render);
    // How long reads may keep failing before the source counts as lost.
    void setLossTimeout(double seconds);

    // Opens the source; false with a reason when there is none or it cannot be opened.
    bool init(std::string& why);
    // Starts the capture thread; false when not initialised or already running.
    bool start();
    // Ends capture. Returns only after the capture thread has ended: no callback is running
    // then, and none follows. Safe to call more than once and from any thread but the capture
    // thread itself.
    void stop();

    // True once no frame has come for longer than the loss timeout (plus a paced source's frame
    // interval), whether reads fail or one blocks; the thread then ends when its read returns,
    // delivering nothing more. Stays true once it was.
    bool lost() const;
    // When the latest frame was handed to the callback; when capture started, before the first.
    std::chrono::steady_clock::time_point lastFrameAt() const {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(lastFrameAt_.load()));
    }
    // The source's frame interval when capture paces it (a file), 0 for a camera.
    double sourceInterval() const { return source_ ? source_->frameInterval() : 0.0; }
    // The source, for messages.
    std::string describe() const { return source_ ? source_->describe() : "no source"; }
    // Frames handed to the callback so far.
    long framesDelivered() const { return frames_.load(); }

    // The row turn and scaling of one frame, as the capture thread does it: `raw` (top-down,
    // any size, BGR or grey) into `bottomUp` at the rendering size.
    static void prepare(const cv::Mat& raw, cv::Size renderingSize, cv::Mat& scaled,
                        cv::Mat& bottomUp);

  private:
    void run();
    // Sleeps until `until` or until stop() is called; false when stopping.
    bool sleepUntil(std::chrono::steady_clock::time_point until);

    std::unique_ptr<FrameSource> source_;
    FrameCallback callback_;
    RenderCallback render_;
    cv::Size renderingSize_{320, 240};
    double lossTimeout_ = 1.0;
    bool initialised_ = false;
    std::thread thread_;
    std::mutex wakeLock_;
    std::condition_variable wake_;
    bool stopping_ = false;  // under wakeLock_
    mutable std::atomic<bool> lost_{false};
    std::atomic<bool> running_{false};  // from start() until stop() or the loss
    std::atomic<std::chrono::steady_clock::rep> lastFrameAt_{0};
    std::atomic<long> frames_{0};
};

}  // namespace camsteer
