// Steady-state memory of the frame road, counted rather than timed: the working images and
// picture buffers are made once, heap allocations per frame stay bounded and do not grow with
// the number of frames, and resident memory stays flat over a long run.
//
// Heap allocations are counted by a pass-through malloc in this binary (see below); it is left
// out of sanitizer builds, whose runtimes own malloc, and the allocation test skips there.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "app/on_frame.hpp"
#include "app/ui/arrow_set.hpp"
#include "platform/camera/capture.hpp"
#include "platform/keys/held_keys.hpp"
#include "tests/unit/test_support.hpp"
#include "tracker/tracker.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CAMSTEER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define CAMSTEER_SANITIZED 1
#endif
#endif

namespace {
// Every malloc-family call in the process, from any thread and any library.
std::atomic<long> gHeapAllocations{0};
}  // namespace

#ifndef CAMSTEER_SANITIZED
// A counting pass-through: each entry point adds one to the count and hands the call to the C
// library's own allocator, so memory is handed out and freed exactly as without it (free and
// malloc_usable_size stay the library's). operator new reaches malloc, so it is counted too.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);

void* malloc(size_t size) noexcept {
    gHeapAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
    gHeapAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) noexcept {
    gHeapAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}
void* memalign(size_t alignment, size_t size) noexcept {
    gHeapAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) noexcept {
    gHeapAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** pointer, size_t alignment, size_t size) noexcept {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) {
        return EINVAL;
    }
    gHeapAllocations.fetch_add(1, std::memory_order_relaxed);
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) {
        return ENOMEM;
    }
    *pointer = p;
    return 0;
}
}  // extern "C"
#endif

namespace camsteer {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// A key backend that keeps nothing, so a long run's memory is the pipeline's alone.
class CountingKeyboard : public Keyboard {
  public:
    void key(SteeringKey, bool) override { ++keys; }
    void flush() override { ++flushes; }
    const char* name() const override { return "counting"; }
    long keys = 0;
    long flushes = 0;
};

// Camera-like top-down frames the road cycles through: the target in each cell of the grid,
// near and far, two regions at once, and no target at all.
std::vector<cv::Mat> rawFrames() {
    std::vector<cv::Mat> frames;
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            frames.push_back(
                testing::frameWith({cv::Rect(20 + column * 100, 15 + row * 75, 60, 60)}));
        }
    }
    frames.push_back(testing::frameWith({cv::Rect(60, 40, 200, 160)}));  // near
    frames.push_back(testing::frameWith({cv::Rect(140, 100, 50, 50)}));  // far
    frames.push_back(testing::frameWith({cv::Rect(10, 10, 40, 40), cv::Rect(250, 170, 60, 60)}));
    frames.push_back(testing::frameWith({}));
    return frames;
}

// The capture thread's per-frame work, run on the test's thread: row turn, tracker pass with
// keys sent, direction picture, upright picture posted; and the main thread's takes.
class FrameRoad {
  public:
    FrameRoad() : raw_(rawFrames()) {
        std::string missing;
        loadArrowSet(std::string(CAMSTEER_SOURCE_DIR) + "/images", shell_.arrowSet, missing);
        shell_.referenceImage = testing::swatch(testing::kBlue);
        shell_.tracker = std::make_unique<Tracker>(shell_.referenceImage, kWidth, kHeight);
        shell_.tracker->setKeySink(&keys_);
        shell_.tracker->sendKeysEnabled = true;
        initTrackbarPositions(shell_);
    }

    bool arrowsLoaded() const {
        for (const cv::Mat& arrow : shell_.arrowSet) {
            if (arrow.empty()) {
                return false;
            }
        }
        return true;
    }

    void frames(long count) {
        for (long i = 0; i < count; ++i) {
            const cv::Mat& raw = raw_[static_cast<size_t>(next_++) % raw_.size()];
            Capture::prepare(raw, cv::Size(kWidth, kHeight), scaled_, frame_);
            onFrame(shell_, frame_);
            cv::flip(frame_, upright_, 0);
            shell_.cameraPicture.handOver(upright_);
            shell_.cameraPicture.take(cameraShown_);
            shell_.outputPicture.take(outputShown_);
        }
    }

    ShellState shell_;
    CountingKeyboard* keyboard_ = new CountingKeyboard;  // owned by keys_
    HeldKeys keys_{std::unique_ptr<Keyboard>(keyboard_)};
    std::vector<cv::Mat> raw_;
    long next_ = 0;
    cv::Mat scaled_, frame_, upright_, cameraShown_, outputShown_;
};

TEST(FrameMemory, WorkingImagesAndPictureBuffersAreMadeOnce) {
    FrameRoad road;
    ASSERT_TRUE(road.arrowsLoaded());
    road.frames(static_cast<long>(road.raw_.size()));
    const auto working = road.shell_.tracker->workingImageData();
    const uchar* frame = road.frame_.data;
    const uchar* direction = road.shell_.directionPicture.data;
    // The camera picture is handed over, so three buffers circulate between the turn, the
    // mailbox and the window; the direction picture is copied in, so its mailbox swaps two
    // buffers with the taker.
    std::set<const uchar*> upright, camera, output;
    for (int i = 0; i < 300; ++i) {
        road.frames(1);
        ASSERT_EQ(working, road.shell_.tracker->workingImageData()) << "frame " << i;
        ASSERT_EQ(frame, road.frame_.data) << "frame " << i;
        ASSERT_EQ(direction, road.shell_.directionPicture.data) << "frame " << i;
        upright.insert(road.upright_.data);
        camera.insert(road.cameraShown_.data);
        output.insert(road.outputShown_.data);
    }
    EXPECT_LE(upright.size(), 3u);
    EXPECT_LE(camera.size(), 3u);
    EXPECT_LE(output.size(), 2u);
    EXPECT_TRUE(road.shell_.frameOk);
}

// The capture thread's own buffers: the frame handed to the callback and the upright picture
// handed to the render callback keep their memory from one frame to the next.
TEST(CaptureThreads, ReusesItsFrameBuffers) {
    class Source : public FrameSource {
      public:
        bool open(std::string&) override { return true; }
        bool read(cv::Mat& frame) override {
            if (sent_ == 50) {
                return false;
            }
            frames_[static_cast<size_t>(sent_++) % frames_.size()].copyTo(frame);
            return true;
        }
        std::string describe() const override { return "test frames"; }

      private:
        std::vector<cv::Mat> frames_ = rawFrames();
        int sent_ = 0;
    };
    std::vector<const uchar*> seen, shown;  // capture thread only until stop()
    Capture capture;
    capture.setSource(std::make_unique<Source>());
    // Long enough that a slow frame on a loaded machine (sanitizers, other jobs) is not taken
    // for a lost source before the fiftieth; short enough to end the test soon after it.
    capture.setLossTimeout(0.5);
    capture.setCallback([&](cv::Mat& frame) { seen.push_back(frame.data); });
    capture.setRender([&](const cv::Mat& upright) { shown.push_back(upright.data); });
    std::string why;
    ASSERT_TRUE(capture.init(why)) << why;
    ASSERT_TRUE(capture.start());
    for (int i = 0; i < 500 && !capture.lost(); ++i) {
        usleep(10000);
    }
    capture.stop();
    ASSERT_TRUE(capture.lost());
    ASSERT_EQ(50u, seen.size());
    ASSERT_EQ(50u, shown.size());
    EXPECT_EQ(1u, std::set<const uchar*>(seen.begin(), seen.end()).size());
    EXPECT_EQ(1u, std::set<const uchar*>(shown.begin(), shown.end()).size());
}

TEST(FrameAllocations, PerFrameCountIsBoundedAndDoesNotGrow) {
#ifdef CAMSTEER_SANITIZED
    GTEST_SKIP() << "heap allocations are counted only in builds without sanitizers";
#else
    FrameRoad road;
    ASSERT_TRUE(road.arrowsLoaded());
    road.frames(100);  // warm-up: buffers made, contour storage grown
    // Each half is a whole number of cycles through the frame set, so both see the same mix.
    const long half = 500 - 500 % static_cast<long>(road.raw_.size());
    const long before = gHeapAllocations.load();
    road.frames(half);
    const long middle = gHeapAllocations.load();
    road.frames(half);
    const long after = gHeapAllocations.load();
    const long first = middle - before;
    const long second = after - middle;
    ASSERT_GT(first, 0) << "the counting allocator is not in use";
    const double perFrame = static_cast<double>(first + second) / (2.0 * half);
    std::printf("heap allocations per frame: %.2f (frames 1..%ld: %ld, %ld..%ld: %ld)\n", perFrame,
                half, first, half + 1, 2 * half, second);
    ::testing::Test::RecordProperty("heap_allocations_per_frame", std::to_string(perFrame));
    EXPECT_LE(second, first + first / 100 + 10) << "allocations grow with the number of frames";
    EXPECT_LE(perFrame, 64.0);
    EXPECT_TRUE(road.shell_.frameOk);
#endif
}

// Resident memory in bytes, from /proc/self/statm.
long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

void expectFlatResidentMemory(long frames) {
#ifdef CAMSTEER_SANITIZED
    GTEST_SKIP() << "sanitizer runtimes hold freed memory back, so resident memory says nothing";
#endif
    FrameRoad road;
    ASSERT_TRUE(road.arrowsLoaded());
    road.frames(1000);  // warm-up
    const long start = residentBytes();
    ASSERT_GT(start, 0) << "cannot read /proc/self/statm";
    road.frames(frames);
    const long growth = residentBytes() - start;
    std::printf("resident memory after %ld frames: %+ld KiB\n", frames, growth / 1024);
    ::testing::Test::RecordProperty("resident_growth_kib", std::to_string(growth / 1024));
    EXPECT_LT(growth, 1L << 20);
    // Keys change at least once per turn of the frame cycle, so they were sent all along.
    EXPECT_GE(road.keyboard_->flushes, (1000 + frames) / static_cast<long>(road.raw_.size()));
    EXPECT_TRUE(road.shell_.frameOk);
}

TEST(ResidentMemory, StaysFlatOverTenThousandFrames) {
    expectFlatResidentMemory(10000);
}

// Run by ctest under the label "long" (about two minutes), not with the unit tests.
TEST(LongRun, DISABLED_ResidentMemoryStaysFlatOverHundredThousandFrames) {
    expectFlatResidentMemory(100000);
}

}  // namespace
}  // namespace camsteer
