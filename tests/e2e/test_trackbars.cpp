// The settings panel under the camera picture, worked with the pointer and keyboard as a user
// would: Smin rebuilds the hue model ("Histogram") and decides what is tracked, Near moves its
// tick in "Output". And the window manager's close of "Camsteer" ends the run normally. Every
// check reads the screen of the test's own Xvfb.

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "harness.hpp"

namespace camsteer::e2e {
namespace {

// The outline (and centre dot) drawn around what is tracked: red while the ball sits in the
// middle cell, green once it steers.
int outlinePixels(const cv::Mat& picture) {
    return countWhere(picture, isRed) + countWhere(picture, isGreen);
}

// A slider of the panel, in whatever style the toolkit draws it: a long groove across the row
// (filled on one side of the handle) and a handle that stands out above and below the groove.
// Found by that shape against the panel's background, never by colours, which each style (and
// each version of the library) chooses for itself.
cv::Vec3b mostCommonColour(const cv::Mat& panel) {
    std::map<std::array<uchar, 3>, int> counts;
    for (auto it = panel.begin<cv::Vec3b>(); it != panel.end<cv::Vec3b>(); ++it) {
        ++counts[{(*it)[0], (*it)[1], (*it)[2]}];
    }
    const auto most =
        std::max_element(counts.begin(), counts.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    return most == counts.end() ? cv::Vec3b()
                                : cv::Vec3b(most->first[0], most->first[1], most->first[2]);
}

// Whether a pixel of the panel is drawn on (not its background).
struct Drawn {
    cv::Vec3b background;
    bool operator()(const cv::Vec3b& p) const {
        return std::max({std::abs(p[0] - background[0]), std::abs(p[1] - background[1]),
                         std::abs(p[2] - background[2])}) > 3;
    }
};

struct Slider {
    int y = 0;  // window row through the middle of the groove
    int grooveLeft = 0;
    int grooveRight = 0;
    int handleLeft = -1;  // -1: no handle seen
    int handleRight = -1;

    cv::Point handleCentre() const { return {(handleLeft + handleRight) / 2, y}; }
    // Where the handle sits: 0 at the left end of the groove, 1 at the right end.
    double fraction() const {
        const int travel = (grooveRight - grooveLeft) - (handleRight - handleLeft);
        return handleLeft < 0 || travel <= 0
                   ? -1.0
                   : static_cast<double>(handleLeft - grooveLeft) / travel;
    }
};

std::string describe(const std::vector<Slider>& sliders) {
    std::ostringstream text;
    text << sliders.size() << " sliders:";
    for (const Slider& s : sliders) {
        text << " [row " << s.y << ", groove " << s.grooveLeft << ".." << s.grooveRight
             << ", handle " << s.handleLeft << ".." << s.handleRight << ", at " << s.fraction()
             << "]";
    }
    return text.str();
}

// The longest run of drawn pixels along row `y`, as [first, last]; first is -1 when none.
std::pair<int, int> longestRun(const cv::Mat& panel, int y, const Drawn& drawn) {
    std::pair<int, int> best{-1, -2};
    int start = -1;
    for (int x = 0; x <= panel.cols; ++x) {
        const bool on = x < panel.cols && drawn(panel.at<cv::Vec3b>(y, x));
        if (on && start < 0) {
            start = x;
        }
        if (!on && start >= 0) {
            if (x - 1 - start > best.second - best.first) {
                best = {start, x - 1};
            }
            start = -1;
        }
    }
    return best;
}

// Reads the slider whose groove row `y` (of `panel`, whose top is window row `top`) crosses:
// the groove is the run of drawn pixels along it, the handle the columns drawn higher than the
// groove is.
Slider readSlider(const cv::Mat& panel, int y, int top, const Drawn& drawn) {
    Slider s;
    s.y = top + y;
    std::tie(s.grooveLeft, s.grooveRight) = longestRun(panel, y, drawn);
    std::vector<int> heights;
    for (int x = s.grooveLeft; x <= s.grooveRight; ++x) {
        int up = y;
        int down = y;
        while (up > 0 && drawn(panel.at<cv::Vec3b>(up - 1, x))) {
            --up;
        }
        while (down + 1 < panel.rows && drawn(panel.at<cv::Vec3b>(down + 1, x))) {
            ++down;
        }
        heights.push_back(down - up + 1);
    }
    std::vector<int> sorted = heights;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const int groove = sorted[sorted.size() / 2];
    int start = -1;
    for (size_t i = 0; i <= heights.size(); ++i) {
        const bool handle = i < heights.size() && heights[i] >= groove + 2;
        if (handle && start < 0) {
            start = static_cast<int>(i);
        }
        if (!handle && start >= 0) {
            const int left = s.grooveLeft + start;
            const int right = s.grooveLeft + static_cast<int>(i) - 1;
            if (right - left >= 4 && right - left > s.handleRight - s.handleLeft) {
                s.handleLeft = left;
                s.handleRight = right;
            }
            start = -1;
        }
    }
    return s;
}

// The sliders of the panel from top to bottom: the bands of rows crossed by a long groove.
std::vector<Slider> findSliders(const cv::Mat& panel, int top) {
    const Drawn drawn{mostCommonColour(panel)};
    std::vector<Slider> sliders;
    int bandStart = -1;
    for (int y = 0; y <= panel.rows; ++y) {
        const std::pair<int, int> run =
            y < panel.rows ? longestRun(panel, y, drawn) : std::pair<int, int>{-1, -2};
        const bool groove = run.second - run.first + 1 >= 100;
        if (groove && bandStart < 0) {
            bandStart = y;
        }
        if (!groove && bandStart >= 0) {
            sliders.push_back(readSlider(panel, (bandStart + y - 1) / 2, top, drawn));
            bandStart = -1;
        }
    }
    return sliders;
}

// The rows of "Output" that carry a distance tick: black across its 15 columns at the right.
std::set<int> tickRows(const cv::Mat& output) {
    std::set<int> rows;
    for (int y = 0; y < output.rows; ++y) {
        bool tick = true;
        for (int x = output.cols - 15; x < output.cols && tick; ++x) {
            tick = isBlack(output.at<cv::Vec3b>(y, x));
        }
        if (tick) {
            rows.insert(y);
        }
    }
    return rows;
}

std::string describe(const std::set<int>& rows) {
    std::string text;
    for (int y : rows) {
        text += std::to_string(y) + " ";
    }
    return text.empty() ? "(none)" : text;
}

// The trackbars in the order the panel shows them, with their ranges and starting values.
enum TrackbarRow { kVmin, kSmin, kVmax, kTrackMin, kNear, kFar, kTrackbarCount };
struct TrackbarStart {
    const char* name;
    int maximum;
    int initial;
};
const TrackbarStart kStarts[kTrackbarCount] = {{"Vmin", 256, 126}, {"Smin", 256, 80},
                                               {"Vmax", 256, 256}, {"TrackMin", 100, 5},
                                               {"Near", 100, 20},  {"Far", 100, 12}};

// A handle drawn where `value` of `maximum` belongs, to within a few steps.
bool handleAt(const Slider& s, int value, int maximum) {
    return std::abs(s.fraction() - static_cast<double>(value) / maximum) <= 0.03;
}

// The ball held in the middle cell, where it is tracked (red outline) but steers nothing.
constexpr int kBallX = 160;
constexpr int kBallY = 120;
constexpr int kBallRadius = 60;
constexpr int kClipFrames = 300;

class Trackbars : public ProgramTest {
  protected:
    std::vector<Slider> sliders() {
        const Geometry g = x_->geometry(windows_.camsteer);
        const cv::Mat panel =
            screenshot(*x_, windows_.camsteer, cv::Rect(0, 240, g.width, g.height - 240));
        return panel.empty() ? std::vector<Slider>{} : findSliders(panel, 240);
    }
    // Polls until slider `row` shows `value`; the last reading is left in `seen`.
    bool waitForHandle(int row, int value, std::vector<Slider>& seen) {
        return pollUntil(
            [&] {
                seen = sliders();
                return seen.size() == kTrackbarCount &&
                       handleAt(seen[row], value, kStarts[row].maximum);
            },
            kStartBound);
    }
    // Drags the handle of slider `row` past the end of its groove.
    void dragToEnd(int row, bool rightEnd) {
        const std::vector<Slider> now = sliders();
        ASSERT_EQ(now.size(), static_cast<size_t>(kTrackbarCount)) << describe(now);
        const Slider& s = now[row];
        const cv::Point to(rightEnd ? s.grooveRight + 30 : s.grooveLeft - 30, s.y);
        x_->drag(windows_.camsteer, s.handleCentre(), to);
    }
    cv::Mat output() { return screenshot(*x_, windows_.output, cv::Rect(0, 0, 200, 200)); }
    cv::Mat histogram() { return screenshot(*x_, windows_.histogram, cv::Rect(0, 0, 240, 240)); }

    ProgramWindows windows_;
};

TEST_F(Trackbars, DriveTheHueModelAndTheDistanceTicks) {
    const std::string clip =
        makeHoldClip(dir_, "middle.avi", kBallX, kBallY, kBallRadius, kClipFrames);
    ASSERT_FALSE(clip.empty()) << "camsteer_make_clip failed";
    auto program = startReplay(clip);
    ASSERT_TRUE(waitForWindows(windows_)) << program->err();
    ASSERT_TRUE(pollUntil([&] { return outlinePixels(cameraPicture(windows_.camsteer)) > 200; },
                          kStartBound))
        << "the ball was never outlined";

    // Six sliders under the picture, in creation order: each handle where its starting value
    // puts it (which also tells the rows apart: Vmax sits at the right end, TrackMin near the
    // left one).
    std::vector<Slider> seen;
    ASSERT_TRUE(pollUntil(
        [&] {
            seen = sliders();
            if (seen.size() != kTrackbarCount) {
                return false;
            }
            for (int row = 0; row < kTrackbarCount; ++row) {
                if (!handleAt(seen[row], kStarts[row].initial, kStarts[row].maximum)) {
                    return false;
                }
            }
            return true;
        },
        kStartBound))
        << "the panel is not as expected: " << describe(seen);
    for (const Slider& s : seen) {
        EXPECT_GE(s.y, 240) << "a slider over the picture";
    }

    // Near (and Far) ticks: 200 * position / 100 rows down "Output". Near is moved by dragging
    // its handle to the ends of the groove and, in between, by the arrow keys on the slider the
    // drag gave the keyboard focus to.
    const int farRow = 200 * kStarts[kFar].initial / 100;
    std::set<int> ticks;
    EXPECT_TRUE(pollUntil(
        [&] {
            return (ticks = tickRows(output())) ==
                   std::set<int>{farRow, 200 * kStarts[kNear].initial / 100};
        },
        kStartBound))
        << "ticks at " << describe(ticks);

    struct NearStep {
        const char* what;
        std::function<void()> move;
        int value;  // where Near then is
    };
    const auto press = [&](KeySym key, int times) {
        return [this, key, times] {
            for (int i = 0; i < times; ++i) {
                x_->typeInto(windows_.camsteer, key);
            }
        };
    };
    const NearStep nearSteps[] = {
        {"dragged to the left end", [&] { dragToEnd(kNear, false); }, 0},
        {"30 times Right", press(XK_Right, 30), 30},
        {"5 times Left", press(XK_Left, 5), 25},
        {"dragged to the right end", [&] { dragToEnd(kNear, true); }, 100},
        {"End, then 63 times Left",
         [&] {
             press(XK_End, 1)();
             press(XK_Left, 63)();
         },
         37},
    };
    for (const NearStep& step : nearSteps) {
        SCOPED_TRACE(std::string("Near ") + step.what);
        step.move();
        ASSERT_TRUE(waitForHandle(kNear, step.value, seen))
            << "Near's handle is not at " << step.value << ": " << describe(seen);
        std::set<int> want{farRow};
        if (2 * step.value < 200) {
            want.insert(2 * step.value);  // 100 puts the tick just below the picture
        }
        EXPECT_TRUE(pollUntil([&] { return (ticks = tickRows(output())) == want; }, kStartBound))
            << "ticks at " << describe(ticks) << ", wanted " << describe(want);
        EXPECT_TRUE(handleAt(seen[kFar], kStarts[kFar].initial, kStarts[kFar].maximum))
            << "Far moved too: " << describe(seen);
    }

    // Smin: at 256 no pixel of the reference picture (nor of the frames) passes, so the model is
    // empty and nothing is tracked; at 0 the sample's hue is in the model again.
    const int bin = sampleBin();
    struct SminStep {
        const char* what;
        bool rightEnd;
        int value;
        bool modelEmpty;
    };
    const SminStep sminSteps[] = {
        {"dragged to the right end", true, 256, true},
        {"dragged to the left end", false, 0, false},
    };
    for (const SminStep& step : sminSteps) {
        SCOPED_TRACE(std::string("Smin ") + step.what);
        dragToEnd(kSmin, step.rightEnd);
        ASSERT_TRUE(waitForHandle(kSmin, step.value, seen))
            << "Smin's handle is not at " << step.value << ": " << describe(seen);
        cv::Mat bars;
        cv::Mat picture;
        if (step.modelEmpty) {
            EXPECT_TRUE(pollUntil(
                [&] {
                    bars = histogram();
                    picture = cameraPicture(windows_.camsteer);
                    return !bars.empty() &&
                           countWhere(bars, isBlack) == static_cast<int>(bars.total()) &&
                           outlinePixels(picture) == 0;
                },
                kStartBound))
                << countWhere(bars, isBlack) << " of " << bars.total()
                << " histogram pixels black, " << outlinePixels(picture)
                << " outline pixels in the picture";
        } else {
            EXPECT_TRUE(pollUntil(
                [&] {
                    bars = histogram();
                    return !bars.empty() && !isBlack(bars.at<cv::Vec3b>(239, bin * 15 + 7));
                },
                kStartBound))
                << "no bar in bin " << bin << " of the histogram";
        }
    }

    // The run goes on and still ends normally on Escape. The toolkit keeps only the last key
    // pressed in what it dispatches at once, so a steering key repeating into the focused
    // "Camsteer" could hide Escape: none is held while a window of the program has the focus.
    EXPECT_TRUE(pollUntil([&] { return steeringKeysDown(*x_).empty(); }, kStartBound))
        << "held: " << ::testing::PrintToString(steeringKeysDown(*x_));
    EXPECT_TRUE(program->running()) << program->err();
    x_->typeInto(windows_.camsteer, XK_Escape);
    const std::optional<ExitStatus> status = program->wait();
    ASSERT_TRUE(status.has_value()) << "Escape did not end the run; stderr:\n" << program->err();
    EXPECT_TRUE(status->exited() && status->code() == 0) << status->describe();
    EXPECT_EQ(program->out(), "");
}

// A taught set-up comes back: a --learn run whose Smin is moved and whose keys are bound keeps
// them beside its picture, and the next --learn run with that picture starts with Smin where it
// was left and steers with the bound keys, given no option.
TEST_F(Trackbars, ALearntSetUpComesBackWithItsTrackbarsAndKeys) {
    const std::string taught = dir_.file("game.png");
    ASSERT_TRUE(cv::imwrite(taught, cv::imread(sampleBlue())));
    const std::string middle =
        makeHoldClip(dir_, "middle.avi", kBallX, kBallY, kBallRadius, kClipFrames);
    const std::string corner = makeHoldClip(dir_, "corner.avi", 270, 50, 45, kClipFrames);
    ASSERT_FALSE(middle.empty() || corner.empty()) << "camsteer_make_clip failed";
    const auto learn = [&](const std::string& clip, std::vector<std::string> options) {
        options.insert(options.begin(), "--learn=" + taught);
        options.push_back(clip);
        return std::make_unique<Process>(programPath("camsteer_replay"), options, env(),
                                         sourcePath(""), dir_.path());
    };
    std::vector<Slider> seen;
    {
        auto program = learn(middle, {"--keys", "up=w,left=a"});
        ASSERT_TRUE(waitForWindows(windows_)) << program->err();
        ASSERT_TRUE(waitForHandle(kSmin, kStarts[kSmin].initial, seen)) << describe(seen);
        dragToEnd(kSmin, false);  // then 40 steps right: the grey background still fails
        for (int i = 0; i < 40; ++i) {
            x_->typeInto(windows_.camsteer, XK_Right);
        }
        ASSERT_TRUE(waitForHandle(kSmin, 40, seen)) << describe(seen);
        x_->typeInto(windows_.camsteer, XK_Escape);
        const std::optional<ExitStatus> status = program->wait();
        ASSERT_TRUE(status && status->exited() && status->code() == 0) << program->err();
    }
    const std::string kept = readFile(dir_.file("game.conf"));
    EXPECT_NE(kept.find("Smin = 40\n"), std::string::npos) << kept;
    EXPECT_NE(kept.find("keys = up=w,"), std::string::npos) << kept;

    KeyRecorder recorder(xvfb_->display());
    ASSERT_TRUE(recorder.ok());
    recorder.takeFocus();
    auto program = learn(corner, {});
    ASSERT_TRUE(waitForWindows(windows_)) << program->err();
    EXPECT_TRUE(waitForHandle(kSmin, 40, seen)) << describe(seen);
    EXPECT_TRUE(recorder.waitFor(
        [&](const auto&) { return recorder.received(true, "w") && recorder.received(true, "a"); },
        kStartBound))
        << recorder.describe() << "\nstderr:\n"
        << program->err();
    program->signal(SIGTERM);
    EXPECT_TRUE(program->wait().has_value());
}

// The window manager's close (there is none under Xvfb, so the test sends its message), both
// before the first frame has been outlined and while the ball is tracked.
struct CloseCase {
    const char* name;
    bool afterTracking;
};
std::ostream& operator<<(std::ostream& os, const CloseCase& c) {
    return os << c.name;
}

class WindowClose : public ProgramTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(WindowClose, OfCamsteerEndsTheRunNormally) {
    // Many frames a second, so a new picture is nearly always waiting to be shown when the close
    // comes: showing it must not bring the closed window back.
    const std::string clip =
        makeHoldClip(dir_, "middle.avi", kBallX, kBallY, kBallRadius, kClipFrames, 120);
    ASSERT_FALSE(clip.empty()) << "camsteer_make_clip failed";
    auto program = startReplay(clip);
    ProgramWindows windows;
    ASSERT_TRUE(waitForWindows(windows)) << program->err();
    if (GetParam().afterTracking) {
        ASSERT_TRUE(pollUntil([&] { return outlinePixels(cameraPicture(windows.camsteer)) > 200; },
                              kStartBound))
            << "the ball was never outlined";
    }
    // A window manager only sends the message to windows that ask for it.
    EXPECT_TRUE(x_->takesPart(windows.camsteer, "WM_DELETE_WINDOW"));

    x_->requestClose(windows.camsteer);
    const std::optional<ExitStatus> status = program->wait();
    ASSERT_TRUE(status.has_value()) << "the run went on after \"Camsteer\" was closed";
    EXPECT_TRUE(status->exited() && status->code() == 0) << status->describe();
    EXPECT_EQ(program->out(), "");
    // Only the start line naming the key output.
    EXPECT_EQ(diagnosticLines(program->err()),
              std::vector<std::string>{"camsteer_replay: key output via XTest"})
        << program->err();
}

INSTANTIATE_TEST_SUITE_P(Moments, WindowClose,
                         ::testing::Values(CloseCase{"AsSoonAsItIsUp", false},
                                           CloseCase{"WhileTracking", true}),
                         [](const ::testing::TestParamInfo<CloseCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace camsteer::e2e
