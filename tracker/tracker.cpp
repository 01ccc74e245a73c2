#include "tracker/tracker.hpp"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "tracker/passes/frame_passes.hpp"
#include "tracker/passes/hsv_lookup.hpp"
#include "tracker/passes/hue_to_bgr.hpp"

namespace camsteer {

namespace {

const cv::Scalar kWhite(255, 255, 255);
const cv::Scalar kGreen(0, 255, 0);
const cv::Scalar kRed(0, 0, 255);
const cv::Scalar kBlue(255, 0, 0);

// Hue planes hold 0..179; the model spreads 16 bins evenly over [0, 180).
const float kHueRange[] = {0.0f, 180.0f};
const float* kHueRanges[] = {kHueRange};
const int kHueChannel[] = {0};

}  // namespace

Tracker::Tracker(const cv::Mat& reference, int width, int height)
    : backProjection_(height, width, CV_8UC1),
      width_(width),
      height_(height),
      centreX_(width / 2),
      centreY_(height / 2) {
    grid_.record(cv::Size(width, height),
                 [&](cv::Mat& picture) { drawGrid(picture, width, height); });
    HsvLookup::tables();  // made here, once per process, rather than in the first frame's pass
    buildHueModel(reference);
}

std::pair<cv::Scalar, cv::Scalar> Tracker::colourBandBounds(int smin, int vmin, int vmax) {
    // The band is lower <= value < upper in each channel; cv::inRange takes inclusive upper
    // bounds, so each upper bound goes in one less. An empty band (vmin == vmax, smin 256)
    // then has its lower bound above its upper bound, which inRange answers with all zero.
    const int vlow = std::min(vmin, vmax);
    const int vhigh = std::max(vmin, vmax);
    return {cv::Scalar(0, smin, vlow), cv::Scalar(180 - 1, 256 - 1, vhigh - 1)};
}

void Tracker::colourBand(const cv::Mat& hsv, int smin, int vmin, int vmax, cv::Mat& mask) {
    const auto [lower, upper] = colourBandBounds(smin, vmin, vmax);
    cv::inRange(hsv, lower, upper, mask);
}

TrackerSettings Tracker::settings() const {
    return TrackerSettings{vmin.load(),         vmax.load(),        smin.load(),
                           nearFraction.load(), farFraction.load(), trackMinFraction.load(),
                           steady.load()};
}

void Tracker::buildHueModel(const cv::Mat& reference) {
    const TrackerSettings s = settings();
    std::lock_guard<std::mutex> guard(lock_);

    if (hueModel_.empty()) {
        hueModel_.create(kHistogramBins, 1, CV_32F);
    }
    // Fresh images: whoever still holds the previous picture keeps it intact.
    histogramPicture_ = cv::Mat(kHistogramSize, kHistogramSize, CV_8UC3, cv::Scalar::all(0));
    refHsv_ = cv::Mat();
    refHue_ = cv::Mat();
    refMask_ = cv::Mat();

    if (reference.empty() || reference.type() != CV_8UC3) {
        // Nothing usable to learn from: an all-zero model, which finds no target.
        hueModel_.setTo(cv::Scalar::all(0));
        return;
    }
    cv::cvtColor(reference, refHsv_, cv::COLOR_BGR2HSV);
    colourBand(refHsv_, s.smin, s.vmin, s.vmax, refMask_);
    cv::extractChannel(refHsv_, refHue_, 0);

    const int bins = kHistogramBins;
    cv::calcHist(&refHue_, 1, kHueChannel, refMask_, hueModel_, 1, &bins, kHueRanges, true, false);
    double largest = 0.0;
    cv::minMaxLoc(hueModel_, nullptr, &largest);
    hueModel_.convertTo(hueModel_, -1, largest != 0.0 ? 255.0 / largest : 0.0);

    const int binWidth = histogramPicture_.cols / kHistogramBins;
    const int pictureHeight = histogramPicture_.rows;
    for (int i = 0; i < kHistogramBins; ++i) {
        // nearbyint rounds half to even in the default rounding mode.
        const int barHeight = static_cast<int>(
            std::nearbyint(static_cast<double>(hueModel_.at<float>(i)) * pictureHeight / 255.0));
        const cv::Scalar colour = hueToBgr(static_cast<float>(i) * 180.0f / kHistogramBins);
        cv::rectangle(histogramPicture_, cv::Point(i * binWidth, pictureHeight),
                      cv::Point((i + 1) * binWidth, pictureHeight - barHeight), colour, cv::FILLED,
                      cv::LINE_8);
    }
}

cv::Mat Tracker::histogramPicture() const {
    std::lock_guard<std::mutex> guard(lock_);
    return histogramPicture_;
}

cv::Mat Tracker::hueModel() const {
    std::lock_guard<std::mutex> guard(lock_);
    return hueModel_.clone();
}

bool Tracker::processFrame(cv::Mat& frame) {
    if (frame.cols != width_ || frame.rows != height_ || frame.type() != CV_8UC3) {
        return false;
    }
    const TrackerSettings s = settings();
    const bool maskViewNow = maskView.load();
    const bool sendKeysNow = sendKeysEnabled.load();

    std::lock_guard<std::mutex> guard(lock_);
    mirrorInPlace(frame);
    locateTarget(frame, s);
    decideDirections(s);
    if (sendKeysNow) {
        sendKeys();
    }
    drawOverlay(frame, maskViewNow);
    return true;
}

void Tracker::searchRegions(cv::Mat& image, const cv::Rect& nonZero, RegionFilter& filter,
                            std::vector<std::vector<cv::Point>>& contours) {
    if (nonZero.empty()) {
        contours.clear();  // what the search finds in an all-zero image
        return;
    }
    // Dilation reaches 3 pixels and the blur 1 more beyond the non-zero pixels; everywhere
    // else both leave zeros, and the contour search sees zeros around the image anyway. So the
    // three run on that neighbourhood alone, the contours offset back into the whole image.
    const int reach = 4;
    const cv::Rect around = cv::Rect(nonZero.x - reach, nonZero.y - reach,
                                     nonZero.width + 2 * reach, nonZero.height + 2 * reach) &
                            cv::Rect(0, 0, image.cols, image.rows);
    cv::Mat part = image(around);
    // Inside the frame the part's own edge, zero, is what the filter's replicated border
    // repeats: the same as the zeros beyond it. (The library's blur, left to read beyond the
    // part, takes another path that rounds some pixels differently.)
    filter.apply(part);
    cv::findContours(part, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE, around.tl());
}

void Tracker::locateTarget(const cv::Mat& frame, const TrackerSettings& s) {
    // HSV conversion, colour band, hue plane, back-projection through the model, masked by the
    // band: one pass that gives what cv::cvtColor and BandProjection::libraryPath's four library
    // calls give.
    const cv::Rect nonZero =
        bandProjection_.apply(frame, hueModel_, s.smin, s.vmin, s.vmax, backProjection_);
    searchRegions(backProjection_, nonZero, regionFilter_, contours_);

    largestArea_ = 0.0;
    largestContour_ = -1;
    for (size_t i = 0; i < contours_.size(); ++i) {
        const double area = std::fabs(cv::contourArea(contours_[i]));
        if (area > largestArea_) {
            largestArea_ = area;
            largestContour_ = static_cast<int>(i);
        }
    }

    tracked_ = largestContour_ >= 0 && coverageLocked() > s.trackMinFraction;
    if (tracked_) {
        targetBox_ = cv::boundingRect(contours_[largestContour_]);
        centreX_ = targetBox_.x + targetBox_.width / 2;
        centreY_ = targetBox_.y + targetBox_.height / 2;
    } else {
        centreX_ = width_ / 2;
        centreY_ = height_ / 2;
    }
}

namespace {

// A coverage limit moved by `pixels` of the radius of a disc of that area (outwards for a
// positive count), in a frame of `area` pixels; never below 0.
double coverageMovedBy(double limit, int pixels, double area) {
    if (pixels == 0) {
        return limit;  // exactly the limit: the rule without dead bands stays bit for bit
    }
    const double radius = std::sqrt(std::max(limit, 0.0) * area / CV_PI) + pixels;
    return radius <= 0 ? 0.0 : CV_PI * radius * radius / area;
}

}  // namespace

DirectionFlags Tracker::decide(cv::Point centre, double coverage, int width, int height,
                               double nearFraction, double farFraction, double trackMinFraction,
                               int steady, const DirectionFlags& previous) {
    const int third = width / 3;
    const int rowThird = height / 3;
    const double area = static_cast<double>(width) * height;
    // How far past a limit a flag's own side begins: a set flag holds N pixels beyond its line,
    // a clear one waits for N pixels past it.
    auto past = [steady](bool wasSet) { return wasSet ? -steady : steady; };
    DirectionFlags d;
    d.back = coverage < coverageMovedBy(farFraction, -past(previous.back), area) &&
             coverage > trackMinFraction;
    d.forward = coverage > coverageMovedBy(nearFraction, past(previous.forward), area);
    // Any direction cancels forward and back: those keys belong to the middle cell only.
    d.left = centre.x < third - past(previous.left);
    d.right = centre.x > 2 * third + past(previous.right);
    d.down = centre.y < rowThird - past(previous.down);  // rows count from the bottom
    d.up = centre.y > 2 * rowThird + past(previous.up);
    if (d.left || d.right || d.down || d.up) {
        d.forward = false;
        d.back = false;
    }
    return d;
}

void Tracker::decideDirections(const TrackerSettings& s) {
    directions_ = decide(cv::Point(centreX_, centreY_), coverageLocked(), width_, height_,
                         s.nearFraction, s.farFraction, s.trackMinFraction, s.steady, directions_);
}

void Tracker::sendKeys() {
    if (keys_ == nullptr) {
        return;
    }
    // The held keys pass on only what changed, so a key stays down while its flag stays set.
    keys_->want(directions_.keys());
}

void Tracker::drawGrid(cv::Mat& image, int w, int h) {
    const int c = w / 3;
    const int r = h / 3;
    cv::line(image, cv::Point(c, 0), cv::Point(c, h), kWhite, 2, cv::LINE_8);
    cv::line(image, cv::Point(2 * c, 0), cv::Point(2 * c, h), kWhite, 2, cv::LINE_8);
    cv::line(image, cv::Point(0, r), cv::Point(w, r), kWhite, 2, cv::LINE_8);
    cv::line(image, cv::Point(0, 2 * r), cv::Point(w, 2 * r), kWhite, 2, cv::LINE_8);
}

void Tracker::drawOverlay(cv::Mat& frame, bool maskViewNow) {
    if (maskViewNow) {
        frame.setTo(cv::Scalar::all(0));
    }
    grid_.paint(frame);  // drawGrid, as recorded

    if (maskViewNow) {
        if (largestContour_ >= 0) {
            cv::drawContours(frame, contours_, largestContour_, kWhite, cv::FILLED, cv::LINE_AA,
                             cv::noArray(), 0);
        }
    } else if (tracked_) {
        // What cv::drawContours draws with thickness 2 and LINE_AA, from recorded segments.
        outline_.draw(frame, contours_[largestContour_], directions_.any() ? kGreen : kRed);
    }

    if (tracked_) {
        const cv::Rect& box = targetBox_;
        // What cv::rectangle draws with thickness 2 and LINE_8.
        paintBox(frame, cv::Point(box.x, box.y), cv::Point(box.x + box.width, box.y + box.height),
                 kBlue);
        cv::circle(frame, cv::Point(box.x + box.width / 2, box.y + box.height / 2), 4, kGreen,
                   cv::FILLED, cv::LINE_8);
    }
}

double Tracker::coverageLocked() const {
    return largestArea_ / static_cast<double>(width_ * height_);
}

double Tracker::coverage() const {
    std::lock_guard<std::mutex> guard(lock_);
    return coverageLocked();
}

cv::Point Tracker::centre() const {
    std::lock_guard<std::mutex> guard(lock_);
    return cv::Point(centreX_, centreY_);
}

DirectionFlags Tracker::directions() const {
    std::lock_guard<std::mutex> guard(lock_);
    return directions_;
}

std::array<const uchar*, 1> Tracker::workingImageData() const {
    std::lock_guard<std::mutex> guard(lock_);
    return {backProjection_.data};
}

void Tracker::setKeySink(KeySink* keys) {
    std::lock_guard<std::mutex> guard(lock_);
    keys_ = keys;
}

}  // namespace camsteer
