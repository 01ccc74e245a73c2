#include "tracker/passes/band_projection.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "tracker/passes/band_blocks.hpp"
#include "tracker/passes/hsv_lookup.hpp"
#include "tracker/tracker.hpp"

namespace camsteer {

namespace {

// Hue planes hold 0..179; the model spreads its bins evenly over [0, 180).
const float kHueRange[] = {0.0f, 180.0f};
const float* kHueRanges[] = {kHueRange};
const int kHueChannel[] = {0};

// Where a band table passes (255) exactly on lo..hi and fails (0) elsewhere: true with those
// bounds (lo 255, hi 0 when it passes nothing); false for a table of any other shape.
bool passingInterval(const std::array<uchar, 256>& table, uchar& lo, uchar& hi) {
    int first = 0;
    while (first < 256 && table[static_cast<size_t>(first)] == 0) {
        ++first;
    }
    int last = 255;
    while (last >= first && table[static_cast<size_t>(last)] == 0) {
        --last;
    }
    for (int i = first; i <= last; ++i) {
        if (table[static_cast<size_t>(i)] != 255) {
            return false;
        }
    }
    lo = static_cast<uchar>(first <= last ? first : 255);
    hi = static_cast<uchar>(first <= last ? last : 0);
    return true;
}

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
    std::array<uchar, 256> hueTable{};
    for (int i = 0; i < 256; ++i) {
        hueTable[static_cast<size_t>(i)] =
            rampOut_.at<uchar>(0, i) & hueBand[static_cast<size_t>(i)];
    }
    const HsvLookup& hsv = HsvLookup::tables();
    if (projection_.empty() || hueTable != hueTable_) {
        // The same through the conversion's hue, by its index: it changes with the model.
        hueTable_ = hueTable;
        projection_.resize(HsvLookup::kHueIndexes);
        for (size_t i = 0; i < projection_.size(); ++i) {
            projection_[i] = hueTable_[hsv.hueAt(static_cast<int>(i))];
        }
    }

    // The S and V tests together, by V and diff (the conversion's S depends on nothing else),
    // and the smallest diff with which any V in the band passes them: below it no pixel
    // passes, whatever its V.
    smallestDiff_ = 256;
    svTable_.resize(256 * 256);
    for (int v = 0; v < 256; ++v) {
        for (int diff = 0; diff < 256; ++diff) {
            const uchar pass = diff <= v
                                   ? static_cast<uchar>(valueTable_[static_cast<size_t>(v)] &
                                                        saturationTable_[hsv.saturation(v, diff)])
                                   : 0;
            svTable_[static_cast<size_t>(v * 256 + diff)] = pass;
            if (pass != 0 && diff < smallestDiff_) {
                smallestDiff_ = diff;
            }
        }
    }
    valueInterval_ = passingInterval(valueTable_, valueLow_, valueHigh_);

    made_ = true;
    smin_ = smin;
    vmin_ = vmin;
    vmax_ = vmax;
    model.copyTo(model_);
}

cv::Rect BandProjection::apply(const cv::Mat& bgr, const cv::Mat& model, int smin, int vmin,
                               int vmax, cv::Mat& out) {
    const bool sameModel =
        made_ && model_.size() == model.size() && model_.type() == model.type() &&
        model.isContinuous() &&
        std::memcmp(model_.data, model.data, model.total() * model.elemSize()) == 0;
    if (!sameModel || smin != smin_ || vmin != vmin_ || vmax != vmax_) {
        makeTables(model, smin, vmin, vmax);
    }
    out.create(bgr.size(), CV_8UC1);
    if (smallestDiff_ > 255) {
        out.setTo(cv::Scalar::all(0));  // no pixel can pass the band
        return cv::Rect();
    }
    const HsvLookup& hsv = HsvLookup::tables();
    // One pixel: converted, then through the band and the model.
    const uchar* const svTable = svTable_.data();
    auto project = [&](const uchar* p) {
        const int b = p[0], g = p[1], r = p[2];
        const int v = std::max(b, std::max(g, r));
        const int diff = v - std::min(b, std::min(g, r));
        const uchar sv = svTable[v * 256 + diff];
        return sv != 0 ? static_cast<uchar>(hueTable_[hsv.hue(b, g, r, v, diff)] & sv) : uchar{0};
    };
    int left = bgr.cols, right = -1, top = -1, bottom = -1;
    for (int y = 0; y < bgr.rows; ++y) {
        const uchar* pixel = bgr.ptr<uchar>(y);
        uchar* result = out.ptr<uchar>(y);
        int done = 0;    // pixels before this one are done
        uchar seen = 0;  // the OR of the row's values
        if (valueInterval_) {
            done = projectBlocks(pixel, result, bgr.cols,
                                 BandBlocks{svTable, projection_.data(), valueLow_, valueHigh_,
                                            static_cast<uchar>(smallestDiff_)},
                                 seen);
        }
        for (int x = done; x < bgr.cols; ++x) {
            result[x] = project(pixel + 3 * x);
            seen |= result[x];
        }
        if (seen == 0) {
            continue;  // most rows hold nothing
        }
        // The ends of the row's values, found eight bytes at a time.
        int first = 0;
        for (uint64_t word = 0; first + 8 <= bgr.cols; first += 8) {
            std::memcpy(&word, result + first, 8);
            if (word != 0) {
                break;
            }
        }
        while (first < bgr.cols && result[first] == 0) {
            ++first;
        }
        if (first < bgr.cols) {
            int last = bgr.cols - 1;
            for (uint64_t word = 0; last - 7 > first; last -= 8) {
                std::memcpy(&word, result + last - 7, 8);
                if (word != 0) {
                    break;
                }
            }
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
