#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "tracker/key_sink.hpp"
#include "tracker/passes/band_projection.hpp"
#include "tracker/passes/frame_passes.hpp"
#include "tracker/passes/outline.hpp"
#include "tracker/passes/region_filter.hpp"

namespace camsteer {

// The six steering flags, in the order their keys are sent.
struct DirectionFlags {
    bool up = false;
    bool down = false;
    bool left = false;
    bool right = false;
    bool forward = false;
    bool back = false;

    bool any() const { return up || down || left || right || forward || back; }
    // The keys these flags press.
    KeySet keys() const {
        return KeySet()
            .set(kSteerUp, up)
            .set(kSteerDown, down)
            .set(kSteerLeft, left)
            .set(kSteerRight, right)
            .set(kSteerForward, forward)
            .set(kSteerBack, back);
    }
    bool operator==(const DirectionFlags& o) const {
        return up == o.up && down == o.down && left == o.left && right == o.right &&
               forward == o.forward && back == o.back;
    }
};

// The settings a pass reads, taken once at its start so that a trackbar moved mid-frame
// can never give a frame that was tested against one value and drawn against another.
struct TrackerSettings {
    int vmin;
    int vmax;
    int smin;
    double nearFraction;
    double farFraction;
    double trackMinFraction;
    int steady;
};

// Learns the target's hue from a reference picture and follows it frame by frame: where its
// largest matching region lies, how much of the frame it covers, which way that steers, which
// keys that presses, and what the user sees of it drawn on the frame.
//
// Threads: processFrame runs on the capture thread, buildHueModel on the main thread; one lock
// serialises them, so a frame never sees a half-built model. Settings are atomics that either
// thread may write at any time; a pass reads each of them once.
class Tracker {
  public:
    static constexpr int kHistogramBins = 16;
    static constexpr int kHistogramSize = 240;

    Tracker(const cv::Mat& reference, int width, int height);
    Tracker(const Tracker&) = delete;
    Tracker& operator=(const Tracker&) = delete;

    // Rebuilds the hue model and its picture from the reference with the current colour band.
    void buildHueModel(const cv::Mat& reference);
    // The current picture of the model. A rebuild replaces the picture rather than drawing over
    // it, so a holder of an earlier one keeps a valid (if stale) image.
    cv::Mat histogramPicture() const;
    // The model itself: 16 bins over hue 0..180, the largest scaled to 255 (or all zero).
    cv::Mat hueModel() const;

    // One pass over a bottom-up BGR frame of the capture size, in place: mirror, locate, decide,
    // send keys, draw. False, with the frame and all results untouched, for any other frame.
    bool processFrame(cv::Mat& frame);

    double coverage() const;
    cv::Point centre() const;
    DirectionFlags directions() const;

    // Where each pass's wanted key states go while sendKeysEnabled; null sends nothing. Not
    // owned.
    void setKeySink(KeySink* keys);

    // Where the per-frame working images keep their pixels: the same from frame to frame
    // once the tracker is made, which a check of steady-state memory relies on.
    std::array<const uchar*, 1> workingImageData() const;

    int width() const { return width_; }
    int height() const { return height_; }

    // The pure steering rule: flags from the tracked point and the coverage. With `steady` N > 0
    // each of the six flags has a dead band of N pixels either side of its limit, so a target
    // held still on a limit does not tap a key: set in `previous`, a flag clears only N pixels
    // back on the other side; clear, it sets only N pixels past. For the four grid lines that is
    // the centre's distance; for Near and Far it is the radius of a disc of the target's area,
    // which a hand's tremor in depth changes by as many pixels as its edge moves. N = 0 is the
    // rule without dead bands, whatever `previous`.
    static DirectionFlags decide(cv::Point centre, double coverage, int width, int height,
                                 double nearFraction, double farFraction, double trackMinFraction,
                                 int steady = 0, const DirectionFlags& previous = {});
    // The largest --steady.
    static constexpr int kMaxSteady = 20;
    // Colour band of an HSV image: lower bounds inclusive, upper bounds exclusive.
    static void colourBand(const cv::Mat& hsv, int smin, int vmin, int vmax, cv::Mat& mask);
    // Its bounds per channel (H, S, V), inclusive at both ends, as cv::inRange takes them.
    static std::pair<cv::Scalar, cv::Scalar> colourBandBounds(int smin, int vmin, int vmax);
    // The regions of a back-projection whose non-zero pixels all lie in `nonZero`: dilated 3
    // times by 3 x 3, blurred 3 x 3 (both with replicated borders; `filter`), outer contours,
    // in place; the same contours and image as those calls on the whole image.
    static void searchRegions(cv::Mat& image, const cv::Rect& nonZero, RegionFilter& filter,
                              std::vector<std::vector<cv::Point>>& contours);
    // The grid the decision uses: lines at a third and two thirds of each side.
    static void drawGrid(cv::Mat& image, int w, int h);

    std::atomic<bool> sendKeysEnabled{false};
    std::atomic<bool> maskView{false};
    std::atomic<int> vmin{126};
    std::atomic<int> vmax{256};
    std::atomic<int> smin{80};
    std::atomic<double> nearFraction{0.2};
    std::atomic<double> farFraction{0.12};
    std::atomic<double> trackMinFraction{0.05};
    std::atomic<int> steady{0};  // the decision's dead band in pixels, 0..kMaxSteady

  private:
    TrackerSettings settings() const;
    void locateTarget(const cv::Mat& frame, const TrackerSettings& s);
    void decideDirections(const TrackerSettings& s);
    void sendKeys();
    void drawOverlay(cv::Mat& frame, bool maskViewNow);
    double coverageLocked() const;

    mutable std::mutex lock_;

    cv::Mat refHsv_;
    cv::Mat refHue_;
    cv::Mat refMask_;
    cv::Mat histogramPicture_;

    BandProjection bandProjection_;
    cv::Mat backProjection_;
    cv::Mat hueModel_;
    PaintedRuns grid_;
    OutlinePainter outline_;
    RegionFilter regionFilter_;

    int width_;
    int height_;

    // Reused by every search, so steady-state contour memory stays the same.
    std::vector<std::vector<cv::Point>> contours_;
    double largestArea_ = 0.0;
    int largestContour_ = -1;  // index into contours_, -1 when none
    // Whether the largest region passed the TrackMin test this pass, and its bounding box.
    bool tracked_ = false;
    cv::Rect targetBox_;
    DirectionFlags directions_;
    int centreX_;
    int centreY_;

    KeySink* keys_ = nullptr;
};

}  // namespace camsteer
