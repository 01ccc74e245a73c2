// Camera loss, injected: a source that delivers some frames and then stops delivering, in the
// ways a camera does (unplugged: reads fail at once; hung: a read blocks, then fails; empty
// frames). Capture must call it lost after the loss timeout and end its thread, and the keys
// the frames pressed must be released by the shutdown that follows.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "app/on_frame.hpp"
#include "app/session/exit_hook.hpp"
#include "app/session/run_watch.hpp"
#include "app/ui/arrow_set.hpp"
#include "platform/camera/capture.hpp"
#include "platform/keys/held_keys.hpp"
#include "tests/common/poll_until.hpp"
#include "tests/unit/test_support.hpp"
#include "tracker/tracker.hpp"

namespace camsteer {
namespace {

using Clock = std::chrono::steady_clock;
using testing::RecordingKeyboard;

enum class Failure { kReadFails, kReadHangsThenFails, kReadBlocks, kEmptyFrames };

// What the test can see of a source the Capture owns.
struct SourceLog {
    std::atomic<int> reads{0};
    std::atomic<int> delivered{0};
    std::atomic<Clock::rep> lastFrameAt{0};
    std::atomic<bool> blocking{false};
};

class FailingSource : public FrameSource {
  public:
    FailingSource(int frames, Failure failure, std::shared_ptr<SourceLog> log)
        : frames_(frames), failure_(failure), log_(std::move(log)) {}

    bool open(std::string&) override { return true; }
    bool read(cv::Mat& frame) override {
        ++log_->reads;
        if (log_->delivered < frames_) {
            // The tracker's upper-left frame, turned top-down as a camera delivers it.
            cv::flip(testing::frameWith({cv::Rect(240, 165, 70, 70)}), frame, 0);
            ++log_->delivered;
            log_->lastFrameAt = Clock::now().time_since_epoch().count();
            return true;
        }
        switch (failure_) {
            case Failure::kReadFails:
                return false;
            case Failure::kReadHangsThenFails:
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                return false;
            case Failure::kReadBlocks:  // a camera that stalls without going away
                log_->blocking = true;
                std::this_thread::sleep_for(std::chrono::seconds(2));
                log_->blocking = false;
                return false;
            case Failure::kEmptyFrames:
                frame.release();
                return true;
        }
        return false;
    }
    std::string describe() const override { return "failing test source"; }

  private:
    int frames_;
    Failure failure_;
    std::shared_ptr<SourceLog> log_;
};

// Waits until the capture calls its source lost, for at most `limit`.
bool waitUntilLost(const Capture& capture, std::chrono::seconds limit) {
    return test::pollUntil([&] { return capture.lost(); }, limit, std::chrono::milliseconds(5));
}

TEST(CaptureLossThreads, SourceIsLostAfterTheTimeoutAndTheThreadEnds) {
    struct Case {
        const char* name;
        int frames;
        Failure failure;
    };
    const Case cases[] = {
        {"unplugged after 5 frames", 5, Failure::kReadFails},
        {"hung after 5 frames", 5, Failure::kReadHangsThenFails},
        {"stalled after 5 frames, the read blocking", 5, Failure::kReadBlocks},
        {"empty frames after 5 frames", 5, Failure::kEmptyFrames},
        {"unplugged before the first frame", 0, Failure::kReadFails},
    };
    const double timeout = 0.2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto log = std::make_shared<SourceLog>();
        std::atomic<int> callbacks{0};
        Capture capture;
        capture.setSource(std::make_unique<FailingSource>(c.frames, c.failure, log));
        capture.setLossTimeout(timeout);
        capture.setCallback([&](cv::Mat&) { ++callbacks; });
        std::string why;
        ASSERT_TRUE(capture.init(why)) << why;
        const auto started = Clock::now();
        ASSERT_TRUE(capture.start());

        ASSERT_TRUE(waitUntilLost(capture, std::chrono::seconds(10)));
        const Clock::time_point lastGood =
            c.frames > 0 ? Clock::time_point(Clock::duration(log->lastFrameAt.load())) : started;
        EXPECT_GE(std::chrono::duration<double>(Clock::now() - lastGood).count(), timeout)
            << "called lost before the timeout";
        EXPECT_EQ(c.failure == Failure::kReadBlocks, log->blocking.load())
            << "a blocked read must not hide the loss until it returns";
        EXPECT_EQ(c.frames, callbacks.load());
        EXPECT_EQ(c.frames, capture.framesDelivered());

        // The thread has ended (or ends when the blocked read returns): the source is read no
        // more.
        const int reads = log->reads;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(reads, log->reads.load());
        capture.stop();
        EXPECT_TRUE(capture.lost());  // stopping afterwards keeps the verdict
    }
}

// Runs `source` on a capture watched by a RunWatch over held keys with Up pressed, and `during`
// while the watch runs; the watch's stall releases and the key events sent.
struct Watched {
    int stallReleases = 0;
    size_t keyEvents = 0;
};
Watched watchHeldKeys(std::unique_ptr<FrameSource> source,
                      const std::function<void(const HeldKeys&)>& during) {
    Capture capture;
    capture.setSource(std::move(source));
    std::string why;
    EXPECT_TRUE(capture.init(why)) << why;
    EXPECT_TRUE(capture.start());
    auto recorder = std::make_unique<RecordingKeyboard>();
    const RecordingKeyboard& keyboard = *recorder;  // read once the watch has ended
    HeldKeys keys(std::move(recorder));
    keys.want(KeySet().set(kSteerUp));
    Watched watched;
    {
        RunWatch watch(capture, &keys, "no such window", DesktopSession{});
        during(keys);
        watched.stallReleases = watch.stallReleases();
    }
    capture.stop();
    watched.keyEvents = keyboard.events.size();
    return watched;
}

// A camera that stalls without going away: its read blocks, so only the time since the last
// frame tells. The keys go up while the read still blocks, once, not again and again.
TEST(CaptureLossThreads, KeysAreReleasedOnceWhileAStalledReadBlocks) {
    auto log = std::make_shared<SourceLog>();
    const Watched watched = watchHeldKeys(
        std::make_unique<FailingSource>(5, Failure::kReadBlocks, log), [&](const HeldKeys& keys) {
            ASSERT_TRUE(test::pollUntil([&] { return keys.held() == 0; }, std::chrono::seconds(5),
                                        std::chrono::milliseconds(5)));
            EXPECT_TRUE(log->blocking) << "released only after the blocked read returned";
            std::this_thread::sleep_for(RunWatch::stallBound(0) * 2);
        });
    EXPECT_EQ(1, watched.stallReleases);
    EXPECT_EQ(2u, watched.keyEvents) << "one press, one release";
}

// A camera at 30 frames a second whose frames come 13 to 53 ms apart, and now and then one
// frame late (a dropped frame: up to 86 ms): normal for a webcam, never a stall. The keys it
// holds must stay down. The stall bound (250 ms) leaves a loaded machine over 160 ms of
// scheduling delay before a frame would count as missing.
class JitteryCamera : public FrameSource {
  public:
    bool open(std::string&) override { return true; }
    bool read(cv::Mat& frame) override {
        std::uniform_int_distribution<int> jitter(-20, 20);
        const int late = ++frames_ % 15 == 0 ? 33 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(33 + jitter(random_) + late));
        frame = cv::Mat(240, 320, CV_8UC3, cv::Scalar(128, 128, 128));
        return true;
    }
    std::string describe() const override { return "jittery test camera"; }

  private:
    std::mt19937 random_{22};
    int frames_ = 0;
};

TEST(CaptureLossThreads, AJitteryCameraNeverReleasesTheKeys) {
    EXPECT_GE(RunWatch::stallBound(0), std::chrono::milliseconds(250));
    const Watched watched = watchHeldKeys(std::make_unique<JitteryCamera>(), [](const HeldKeys&) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
    });
    EXPECT_EQ(0, watched.stallReleases);
    EXPECT_EQ(1u, watched.keyEvents) << "one press, no release";
}

// The keys the last frames pressed, after the shutdown the program runs when its camera is
// lost: capture stopped (no frame can press a key again), then every steering key released.
// The shell does these two steps in its CaptureRun guard, which is private to it; this drives
// the same two public calls in the same order on a capture that lost its camera.
TEST(CaptureLossThreads, KeysPressedBeforeTheLossAreReleasedAtShutdown) {
    ShellState shell;
    std::string missing;
    ASSERT_TRUE(loadArrowSet(std::string(CAMSTEER_SOURCE_DIR) + "/images", shell.arrowSet, missing))
        << missing;
    shell.referenceImage = testing::swatch(testing::kBlue);
    shell.tracker = std::make_unique<Tracker>(shell.referenceImage, 320, 240);
    auto recorder = std::make_unique<RecordingKeyboard>();
    RecordingKeyboard& keyboard = *recorder;  // capture thread while it runs, then this thread
    HeldKeys keys(std::move(recorder));
    shell.tracker->setKeySink(&keys);
    shell.tracker->sendKeysEnabled = true;
    initTrackbarPositions(shell);

    auto log = std::make_shared<SourceLog>();
    Capture capture;
    capture.setSource(std::make_unique<FailingSource>(3, Failure::kReadFails, log));
    capture.setLossTimeout(0.1);
    capture.setCallback([&shell](cv::Mat& frame) { onFrame(shell, frame); });
    capture.setRender([&shell](const cv::Mat& upright) { shell.cameraPicture.post(upright); });
    std::string why;
    ASSERT_TRUE(capture.init(why)) << why;
    ASSERT_TRUE(capture.start());
    ASSERT_TRUE(waitUntilLost(capture, std::chrono::seconds(10)));

    capture.stop();
    const size_t pressedBy = keyboard.events.size();
    ASSERT_EQ(2u, pressedBy) << "the first frame's two presses, held after";
    EXPECT_EQ(1, keyboard.flushes);
    std::map<int, bool> down;
    for (const auto& [key, isDown] : keyboard.events) {
        down[key] = isDown;
    }
    ASSERT_TRUE(down[kSteerUp] && down[kSteerLeft]) << "the frames steer up and left";

    keys.releaseAll();
    for (size_t i = pressedBy; i < keyboard.events.size(); ++i) {
        down[keyboard.events[i].first] = keyboard.events[i].second;
    }
    for (int key = 0; key < kSteeringKeyCount; ++key) {
        EXPECT_FALSE(down[key]) << "key " << key << " left pressed";
    }
    EXPECT_EQ(2, keyboard.flushes);
}

}  // namespace
}  // namespace camsteer
