#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "platform/camera/camera_list.hpp"
#include "platform/camera/capture.hpp"
#include "platform/camera/frame_sources.hpp"
#include "tests/common/poll_until.hpp"

namespace camsteer {
namespace {

using namespace std::chrono_literals;

// Polls `done` for up to ten seconds; a bound on a wait, not a measure of speed.
bool eventually(const std::function<bool()>& done) {
    return test::pollUntil(done, 10s, 10ms);
}

// A frame whose top rows are red and the rest grey, as a camera stores it (top-down).
cv::Mat topRedFrame(cv::Size size) {
    cv::Mat frame(size, CV_8UC3, cv::Scalar(128, 128, 128));
    frame.rowRange(0, 8).setTo(cv::Scalar(0, 0, 255));
    return frame;
}

// Delivers `frames` frames (or endlessly with -1) without waiting, then fails every read.
class ScriptedSource : public FrameSource {
  public:
    explicit ScriptedSource(int frames, cv::Size size = {320, 240})
        : remaining_(frames), size_(size) {}
    bool open(std::string&) override { return true; }
    bool read(cv::Mat& frame) override {
        if (remaining_ == 0)
            return false;
        if (remaining_ > 0)
            --remaining_;
        frame = topRedFrame(size_);
        return true;
    }
    std::string describe() const override { return "scripted"; }

  private:
    std::atomic<int> remaining_;
    cv::Size size_;
};

TEST(CapturePrepare, ScalesTurnsAndConvertsEveryKindOfFrame) {
    const cv::Vec3b red(0, 0, 255);
    struct Case {
        cv::Mat raw;
        const char* what;
    };
    cv::Mat grey(240, 320, CV_8UC1, cv::Scalar(128));
    grey.row(0).setTo(cv::Scalar(76));  // becomes a grey row, checked by value below
    cv::Mat bgra;
    cv::cvtColor(topRedFrame({320, 240}), bgra, cv::COLOR_BGR2BGRA);
    const Case cases[] = {
        {topRedFrame({320, 240}), "capture size"},
        {topRedFrame({640, 480}), "larger"},
        {topRedFrame({160, 120}), "smaller"},
        {bgra, "with alpha"},
    };
    for (const Case& c : cases) {
        cv::Mat scaled, bottomUp;
        Capture::prepare(c.raw, {320, 240}, scaled, bottomUp);
        ASSERT_EQ(cv::Size(320, 240), bottomUp.size()) << c.what;
        ASSERT_EQ(CV_8UC3, bottomUp.type()) << c.what;
        // The camera's top row is the tracker's last row.
        EXPECT_EQ(red, bottomUp.at<cv::Vec3b>(239, 160)) << c.what;
        EXPECT_NE(red, bottomUp.at<cv::Vec3b>(0, 160)) << c.what;
    }
    cv::Mat scaled, bottomUp;
    Capture::prepare(grey, {320, 240}, scaled, bottomUp);
    EXPECT_EQ(cv::Vec3b(76, 76, 76), bottomUp.at<cv::Vec3b>(239, 0));
}

TEST(CaptureThreads, CallbackGetsBottomUpAndRenderGetsUpright) {
    Capture capture;
    capture.setSource(std::make_unique<ScriptedSource>(-1, cv::Size(640, 480)));
    std::atomic<int> bottomUpOk{0}, uprightOk{0};
    const cv::Vec3b red(0, 0, 255);
    capture.setCallback([&](cv::Mat& f) {
        if (f.size() == cv::Size(320, 240) && f.at<cv::Vec3b>(239, 5) == red)
            ++bottomUpOk;
        f.at<cv::Vec3b>(0, 0) = cv::Vec3b(1, 2, 3);  // drawn on by the callback
    });
    capture.setRender([&](const cv::Mat& f) {
        if (f.at<cv::Vec3b>(0, 5) == red && f.at<cv::Vec3b>(239, 0) == cv::Vec3b(1, 2, 3))
            ++uprightOk;
    });
    std::string why;
    ASSERT_TRUE(capture.init(why)) << why;
    ASSERT_TRUE(capture.start());
    ASSERT_TRUE(eventually([&] { return uprightOk >= 5; }));
    capture.stop();
    EXPECT_EQ(capture.framesDelivered(), bottomUpOk.load());
}

TEST(CaptureThreads, StopReturnsOnlyAfterTheLastCallbackAndNoneFollows) {
    for (int round = 0; round < 5; ++round) {
        Capture capture;
        capture.setSource(std::make_unique<ScriptedSource>(-1));
        std::atomic<bool> inCallback{false};
        std::atomic<int> calls{0};
        capture.setCallback([&](cv::Mat&) {
            inCallback = true;
            std::this_thread::sleep_for(1ms);
            ++calls;
            inCallback = false;
        });
        std::string why;
        ASSERT_TRUE(capture.init(why));
        ASSERT_TRUE(capture.start());
        ASSERT_TRUE(eventually([&] { return calls >= 10; }));
        capture.stop();
        EXPECT_FALSE(inCallback);
        const int after = calls;
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(after, calls.load()) << "a callback ran after stop returned";
        capture.stop();  // a second stop is harmless
    }
}

TEST(CaptureThreads, ReadsFailingLongerThanTheTimeoutMeanLost) {
    Capture capture;
    capture.setSource(std::make_unique<ScriptedSource>(3));
    capture.setLossTimeout(0.05);
    std::string why;
    ASSERT_TRUE(capture.init(why));
    ASSERT_TRUE(capture.start());
    ASSERT_TRUE(eventually([&] { return capture.lost(); }));
    EXPECT_EQ(3, capture.framesDelivered());
    capture.stop();
}

TEST(CaptureThreads, StartNeedsASuccessfulInit) {
    Capture capture;
    std::string why;
    EXPECT_FALSE(capture.init(why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(capture.start());
}

TEST(VideoFileSource, RefusesWhatItCannotPlay) {
    char dir[] = "/tmp/camsteer-capture-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string empty = std::string(dir) + "/empty.avi";
    fclose(fopen(empty.c_str(), "w"));
    for (const std::string& path : {std::string(dir) + "/missing.avi", std::string(dir), empty}) {
        Capture capture;
        capture.setSource(makeVideoFileSource(path));
        std::string why;
        EXPECT_FALSE(capture.init(why)) << path;
        EXPECT_NE(std::string::npos, why.find(path)) << why;
    }
    unlink(empty.c_str());
    rmdir(dir);
}

TEST(VideoFileSource, PlaysAClipScaledAndLooping) {
    char dir[] = "/tmp/camsteer-capture-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string clip = std::string(dir) + "/clip.avi";
    {
        cv::VideoWriter writer(clip, cv::CAP_OPENCV_MJPEG,
                               cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 100.0,
                               cv::Size(640, 480));
        ASSERT_TRUE(writer.isOpened());
        for (int i = 0; i < 4; ++i)
            writer.write(topRedFrame({640, 480}));
    }
    Capture capture;
    capture.setSource(makeVideoFileSource(clip));
    std::set<std::pair<int, int>> sizes;
    std::mutex lock;
    capture.setCallback([&](cv::Mat& f) {
        std::lock_guard<std::mutex> guard(lock);
        sizes.insert({f.cols, f.rows});
    });
    std::string why;
    ASSERT_TRUE(capture.init(why)) << why;
    ASSERT_TRUE(capture.start());
    // Four frames in the file; more than eight delivered means it started over.
    ASSERT_TRUE(eventually([&] { return capture.framesDelivered() > 8; }));
    capture.stop();
    EXPECT_FALSE(capture.lost());
    EXPECT_EQ((std::set<std::pair<int, int>>{{320, 240}}), sizes);
    unlink(clip.c_str());
    rmdir(dir);
}

TEST(CameraSource, NoDeviceIsAClearRefusal) {
    if (countCameras() > 0) {
        GTEST_SKIP() << "a camera is present; this checks the refusal without one";
    }
    Capture capture;
    capture.setSource(makeCameraSource(1, 320, 240));
    std::string why;
    EXPECT_FALSE(capture.init(why));
    EXPECT_NE(std::string::npos, why.find("no camera found")) << why;
}

}  // namespace
}  // namespace camsteer
