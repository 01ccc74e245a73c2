#include "tracker/band_projection.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "tracker/tracker.hpp"

namespace camsteer {

namespace {

// Hue planes hold 0..179; the model spreads its bins evenly over [0, 180).
const float kHueRange[] = {0.0f, 180.0f};
const float* kHueRanges[] = {kHueRange};
const int kHueChannel[] = {0};

}  // namespace

void BandProjection::libraryPath(const cv::Mat& hsv, const cv::Mat& model, int smin, int vmin,
                                 int vmax, cv::Mat& hue, cv::Mat& mask, cv::Mat& out) {
    Tracker::colourBand(hsv, smin, vmin, vmax, mask);
    cv::extractChannel(hsv, hue, 0);
    cv::calcBackProject(&hue, 1, kHueChannel, model, out, kHueRanges);
    cv::bitwise_and(out, mask, out);
}

void BandProjection::makeTables(const cv::Mat& model, int smin, int vmin, int vmax) {
    // The band is a test per channel, all three of which must pass: each channel's table is
    // cv::inRange with that channel's bounds over a row holding every value 0..255.
    if (ramp_.empty()) {
        ramp_.create(1, 256, CV_8UC1);
        for (int i = 0; i < 256; ++i) {
            ramp_.at<uchar>(0, i) = static_cast<uchar>(i);
        }
    }
    const auto [lower, upper] = Tracker::colourBandBounds(smin, vmin, vmax);
    std::array<uchar, 256> hueBand{};
    std::array<uchar, 256>* tables[] = {&hueBand, &saturationTable_, &valueTable_};
    for (int channel = 0; channel < 3; ++channel) {
        cv::inRange(ramp_, cv::Scalar(lower[channel]), cv::Scalar(upper[channel]), rampMask_);
        std::memcpy(tables[channel]->data(), rampMask_.ptr(0), 256);
    }
    // The back-projection of every hue value, masked by the hue's own test.
    cv::calcBackProject(&ramp_, 1, kHueChannel, model, rampOut_, kHueRanges);
    for (int i = 0; i < 256; ++i) {
        hueTable_[static_cast<size_t>(i)] =
            rampOut_.at<uchar>(0, i) & hueBand[static_cast<size_t>(i)];
    }

    made_ = true;
    smin_ = smin;
    vmin_ = vmin;
    vmax_ = vmax;
    model.copyTo(model_);
}

cv::Rect BandProjection::apply(const cv::Mat& hsv, const cv::Mat& model, int smin, int vmin,
                               int vmax, cv::Mat& out) {
    const bool sameModel =
        made_ && model_.size() == model.size() && model_.type() == model.type() &&
        model.isContinuous() &&
        std::memcmp(model_.data, model.data, model.total() * model.elemSize()) == 0;
    if (!sameModel || smin != smin_ || vmin != vmin_ || vmax != vmax_) {
        makeTables(model, smin, vmin, vmax);
    }
    out.create(hsv.size(), CV_8UC1);
    int left = hsv.cols, right = -1, top = -1, bottom = -1;
    for (int y = 0; y < hsv.rows; ++y) {
        const uchar* pixel = hsv.ptr<uchar>(y);
        uchar* result = out.ptr<uchar>(y);
        for (int x = 0; x < hsv.cols; ++x, pixel += 3) {
            result[x] = hueTable_[pixel[0]] & saturationTable_[pixel[1]] & valueTable_[pixel[2]];
        }
        // Most rows hold nothing: they are skipped eight bytes at a time.
        int first = 0;
        for (uint64_t word = 0; first + 8 <= hsv.cols; first += 8) {
            std::memcpy(&word, result + first, 8);
            if (word != 0) {
                break;
            }
        }
        while (first < hsv.cols && result[first] == 0) {
            ++first;
        }
        if (first < hsv.cols) {
            int last = hsv.cols - 1;
            while (result[last] == 0) {
                --last;
            }
            left = std::min(left, first);
            right = std::max(right, last);
            top = top < 0 ? y : top;
            bottom = y;
        }
    }
    return right < 0 ? cv::Rect() : cv::Rect(left, top, right - left + 1, bottom - top + 1);
}

}  // namespace camsteer
