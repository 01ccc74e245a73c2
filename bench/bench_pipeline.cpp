// Timings of the per-frame work, single-threaded as the program runs it:
//
//   ProcessFrame   the tracker's pass over one 320 x 240 frame
//   ProcessFrameLibraryThreads   the same with the image library's worker threads on
//   BareKernels    the same image-library calls in one plain function on the same frames,
//                  into buffers made once: what the tracker pass (its band pass fused) must beat
//   FrameCopy      restoring the untouched frame before each pass (in both of the above)
//   ShowDirection  choosing, copying, drawing and posting the direction picture when it has
//                  changed (in the frame road it is redrawn only then)
//   FrameRoad      what the capture thread does per frame: row turn, tracker pass, direction
//                  picture, upright copy posted for the window
//   FrameToKey     a running Capture with a frame source and keyboard that timestamp: time
//                  from the source handing over a frame to the key backend's flush (counters
//                  median_us and p99_us). Keys reach the backend only when they change, so the
//                  frames alternate: "present" between the target in the upper left and in the
//                  upper right, "absent" between the target and only background.
//
// Frames: "present" has the target in the user's upper left, "absent" only background.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/on_frame.hpp"
#include "app/ui/arrow_set.hpp"
#include "platform/camera/capture.hpp"
#include "platform/keys/held_keys.hpp"
#include "platform/keys/keyboard.hpp"
#include "tracker/tracker.hpp"

namespace camsteer {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
const cv::Scalar kTarget(230, 20, 0);

// The target's colour as a reference picture.
cv::Mat referencePicture() {
    return cv::Mat(32, 32, CV_8UC3, kTarget);
}

// A camera-like frame: grey with a little noise, and with `present` a noisy target disc.
cv::Mat makeFrame(bool present) {
    cv::Mat frame(kHeight, kWidth, CV_8UC3, cv::Scalar(128, 124, 120));
    cv::Mat noise(frame.size(), CV_8UC3);
    cv::RNG rng(12345);
    rng.fill(noise, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(6));
    if (present) {
        cv::circle(frame, cv::Point(260, 180), 40, kTarget, cv::FILLED, cv::LINE_AA);
    }
    cv::Mat noisy;
    cv::add(frame, noise, noisy, cv::noArray(), CV_8UC3);
    return noisy;
}

// The tracker's pass written out as plain calls on the same kernels, settings at their
// defaults, every output image made once.
struct BarePipeline {
    explicit BarePipeline(const cv::Mat& model) : model(model.clone()) {}

    void run(cv::Mat& frame) {
        static const float range[] = {0.0f, 180.0f};
        static const float* ranges[] = {range};
        static const int channel[] = {0};
        cv::flip(frame, frame, 1);
        cv::cvtColor(frame, hsv, cv::COLOR_BGR2HSV);
        cv::inRange(hsv, cv::Scalar(0, 80, 126), cv::Scalar(179, 255, 255), mask);
        cv::extractChannel(hsv, hue, 0);
        cv::calcBackProject(&hue, 1, channel, model, backProjection, ranges);
        cv::bitwise_and(backProjection, mask, backProjection);
        cv::dilate(backProjection, backProjection, cv::Mat(), cv::Point(-1, -1), 3,
                   cv::BORDER_REPLICATE);
        cv::GaussianBlur(backProjection, backProjection, cv::Size(3, 3), 0, 0,
                         cv::BORDER_REPLICATE);
        cv::findContours(backProjection, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        double largest = 0.0;
        int index = -1;
        for (size_t i = 0; i < contours.size(); ++i) {
            const double area = std::fabs(cv::contourArea(contours[i]));
            if (area > largest) {
                largest = area;
                index = static_cast<int>(i);
            }
        }
        const cv::Scalar white(255, 255, 255);
        const int c = kWidth / 3;
        const int r = kHeight / 3;
        cv::line(frame, cv::Point(c, 0), cv::Point(c, kHeight), white, 2, cv::LINE_8);
        cv::line(frame, cv::Point(2 * c, 0), cv::Point(2 * c, kHeight), white, 2, cv::LINE_8);
        cv::line(frame, cv::Point(0, r), cv::Point(kWidth, r), white, 2, cv::LINE_8);
        cv::line(frame, cv::Point(0, 2 * r), cv::Point(kWidth, 2 * r), white, 2, cv::LINE_8);
        if (index >= 0 && largest / (kWidth * kHeight) > 0.05) {
            const cv::Rect box = cv::boundingRect(contours[index]);
            cv::drawContours(frame, contours, index, cv::Scalar(0, 255, 0), 2, cv::LINE_AA,
                             cv::noArray(), 0);
            cv::rectangle(frame, box.tl(), box.br(), cv::Scalar(255, 0, 0), 2, cv::LINE_8);
            cv::circle(frame, (box.tl() + box.br()) / 2, 4, cv::Scalar(0, 255, 0), cv::FILLED,
                       cv::LINE_8);
        }
    }

    cv::Mat model;
    cv::Mat hsv;
    cv::Mat hue;
    cv::Mat mask;
    cv::Mat backProjection;
    std::vector<std::vector<cv::Point>> contours;
};

void BM_FrameCopy(benchmark::State& state) {
    const cv::Mat source = makeFrame(state.range(0) != 0);
    cv::Mat frame = source.clone();
    for (auto _ : state) {
        source.copyTo(frame);
        benchmark::DoNotOptimize(frame.data);
    }
}

void BM_ProcessFrame(benchmark::State& state) {
    cv::setNumThreads(1);
    Tracker tracker(referencePicture(), kWidth, kHeight);
    const cv::Mat source = makeFrame(state.range(0) != 0);
    cv::Mat frame = source.clone();
    for (auto _ : state) {
        source.copyTo(frame);
        if (!tracker.processFrame(frame)) {
            state.SkipWithError("frame refused");
            break;
        }
        benchmark::DoNotOptimize(frame.data);
    }
}

// The tracker pass with the image library's own worker threads (the program runs with one):
// wall time and the CPU time of the whole process, to show what the threads would buy.
void BM_ProcessFrameLibraryThreads(benchmark::State& state) {
    cv::setNumThreads(-1);  // the library's default: one worker per core
    Tracker tracker(referencePicture(), kWidth, kHeight);
    const cv::Mat source = makeFrame(state.range(0) != 0);
    cv::Mat frame = source.clone();
    for (auto _ : state) {
        source.copyTo(frame);
        tracker.processFrame(frame);
        benchmark::DoNotOptimize(frame.data);
    }
    cv::setNumThreads(1);
}

void BM_BareKernels(benchmark::State& state) {
    cv::setNumThreads(1);
    const Tracker tracker(referencePicture(), kWidth, kHeight);
    BarePipeline bare(tracker.hueModel());
    const cv::Mat source = makeFrame(state.range(0) != 0);
    cv::Mat frame = source.clone();
    for (auto _ : state) {
        source.copyTo(frame);
        bare.run(frame);
        benchmark::DoNotOptimize(frame.data);
    }
}

// A shell as the program sets it up for frames: arrows loaded, tracker made.
std::unique_ptr<ShellState> makeShell(benchmark::State& state) {
    auto shell = std::make_unique<ShellState>();
    std::string missing;
    if (!loadArrowSet(std::string(CAMSTEER_SOURCE_DIR) + "/images", shell->arrowSet, missing)) {
        state.SkipWithError(("cannot load " + missing).c_str());
        return nullptr;
    }
    shell->referenceImage = referencePicture();
    shell->tracker = std::make_unique<Tracker>(shell->referenceImage, kWidth, kHeight);
    initTrackbarPositions(*shell);
    return shell;
}

void BM_ShowDirection(benchmark::State& state) {
    cv::setNumThreads(1);
    const std::unique_ptr<ShellState> shell = makeShell(state);
    if (!shell) {
        return;
    }
    cv::Mat frame = makeFrame(state.range(0) != 0);
    shell->tracker->processFrame(frame);
    for (auto _ : state) {
        shell->directionShown.reset();  // as if the marks had changed: the picture is redrawn
        showDirection(*shell);
        benchmark::DoNotOptimize(shell->directionPicture.data);
    }
}

void BM_FrameRoad(benchmark::State& state) {
    cv::setNumThreads(1);
    const std::unique_ptr<ShellState> shell = makeShell(state);
    if (!shell) {
        return;
    }
    cv::Mat raw;
    cv::flip(makeFrame(state.range(0) != 0), raw, 0);  // cameras deliver rows top-down
    cv::Mat scaled;
    cv::Mat frame;
    cv::Mat upright;
    for (auto _ : state) {
        Capture::prepare(raw, cv::Size(kWidth, kHeight), scaled, frame);
        onFrame(*shell, frame);
        cv::flip(frame, upright, 0);
        shell->cameraPicture.handOver(upright);
    }
    if (!shell->frameOk) {
        state.SkipWithError("frame refused");
    }
}

// A frame source that hands over one frame each time the benchmark releases one, noting when;
// the two frames it is given take turns.
class GatedSource : public FrameSource {
  public:
    GatedSource(cv::Mat first, cv::Mat second) : frames_{std::move(first), std::move(second)} {}

    bool open(std::string&) override { return true; }
    bool read(cv::Mat& frame) override {
        std::unique_lock<std::mutex> guard(lock_);
        if (!wake_.wait_for(guard, std::chrono::milliseconds(50), [this] { return released_; })) {
            return false;  // the capture thread then checks whether it is being stopped
        }
        released_ = false;
        guard.unlock();
        frames_[next_].copyTo(frame);
        next_ = 1 - next_;
        handedOver_ = Clock::now();
        return true;
    }
    std::string describe() const override { return "gated test source"; }

    void release() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            released_ = true;
        }
        wake_.notify_one();
    }
    // Written and read on the capture thread only.
    Clock::time_point handedOver_;

  private:
    cv::Mat frames_[2];
    int next_ = 0;  // capture thread only
    std::mutex lock_;
    std::condition_variable wake_;
    bool released_ = false;
};

// A key backend that only notes when each flush happens and how long after the frame.
class StampingKeyboard : public Keyboard {
  public:
    explicit StampingKeyboard(const GatedSource& source) : source_(source) {}
    void key(SteeringKey, bool) override {}
    void flush() override {
        const double us =
            std::chrono::duration<double, std::micro>(Clock::now() - source_.handedOver_).count();
        {
            std::lock_guard<std::mutex> guard(lock_);
            latencies_.push_back(us);
        }
        flushed_.notify_one();
    }
    const char* name() const override { return "stamping"; }

    // Waits for the flush after `count` latencies were recorded; false on a stall.
    bool waitFor(size_t count) {
        std::unique_lock<std::mutex> guard(lock_);
        return flushed_.wait_for(guard, std::chrono::seconds(5),
                                 [&] { return latencies_.size() >= count; });
    }
    std::vector<double> latencies() {
        std::lock_guard<std::mutex> guard(lock_);
        return latencies_;
    }

  private:
    const GatedSource& source_;
    std::mutex lock_;
    std::condition_variable flushed_;
    std::vector<double> latencies_;
};

void BM_FrameToKey(benchmark::State& state) {
    cv::setNumThreads(1);
    const std::unique_ptr<ShellState> shell = makeShell(state);
    if (!shell) {
        return;
    }
    cv::Mat raw;
    cv::flip(makeFrame(true), raw, 0);
    cv::Mat other;
    if (state.range(0) != 0) {
        cv::flip(raw, other, 1);
    } else {
        cv::flip(makeFrame(false), other, 0);
    }
    auto owned = std::make_unique<GatedSource>(raw, other);
    GatedSource& source = *owned;
    auto stamping = std::make_unique<StampingKeyboard>(source);
    StampingKeyboard& keyboard = *stamping;
    HeldKeys keys(std::move(stamping));
    shell->tracker->setKeySink(&keys);
    shell->tracker->sendKeysEnabled = true;

    Capture capture;
    capture.setSource(std::move(owned));
    capture.setRenderingSize(kWidth, kHeight);
    ShellState& s = *shell;
    capture.setCallback([&s](cv::Mat& frame) { onFrame(s, frame); });
    capture.setRender([&s](cv::Mat& upright) { s.cameraPicture.handOver(upright); });
    std::string why;
    if (!capture.init(why) || !capture.start()) {
        state.SkipWithError(("capture does not start: " + why).c_str());
        return;
    }
    size_t frames = 0;
    for (auto _ : state) {
        source.release();
        if (!keyboard.waitFor(++frames)) {
            state.SkipWithError("no flush within 5 s");
            break;
        }
    }
    capture.stop();

    std::vector<double> us = keyboard.latencies();
    keys.releaseAll();  // now, while the source its stamps read from still exists
    if (us.empty()) {
        return;
    }
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

BENCHMARK(BM_FrameCopy)->ArgName("present")->Arg(1)->Arg(0);
BENCHMARK(BM_ProcessFrame)->ArgName("present")->Arg(1)->Arg(0);
BENCHMARK(BM_ProcessFrameLibraryThreads)
    ->ArgName("present")
    ->Arg(1)
    ->Arg(0)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_BareKernels)->ArgName("present")->Arg(1)->Arg(0);
BENCHMARK(BM_ShowDirection)->ArgName("present")->Arg(1)->Arg(0);
BENCHMARK(BM_FrameRoad)->ArgName("present")->Arg(1)->Arg(0);
BENCHMARK(BM_FrameToKey)->ArgName("present")->Arg(1)->Arg(0)->UseRealTime();

}  // namespace
}  // namespace camsteer

BENCHMARK_MAIN();
