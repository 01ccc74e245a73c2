#include "tracker/band_projection.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <opencv2/imgproc.hpp>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CAMSTEER_SSSE3_BAND 1
#endif

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

#ifdef CAMSTEER_SSSE3_BAND
// 16 pixels at a time: the three channels split by byte shuffles, S and V tested against their
// intervals, and only where some pixel passes both, its hue looked up in the 256-entry table a
// row of 16 at a time (rows all zero skipped). Returns the first pixel left to do one by one.
__attribute__((target("ssse3"))) int bandRowSsse3(const uchar* pixel, uchar* result, int cols,
                                                  const std::array<uchar, 256>& hueTable, uchar slo,
                                                  uchar shi, uchar vlo, uchar vhi) {
    // split[c][r][j]: the byte of input register r that is byte j of channel c, 0x80 if none.
    alignas(16) static const struct Split {
        uint8_t m[3][3][16];
        Split() {
            for (int c = 0; c < 3; ++c)
                for (int r = 0; r < 3; ++r)
                    for (int j = 0; j < 16; ++j) {
                        const int from = 3 * j + c - 16 * r;
                        m[c][r][j] = from >= 0 && from < 16 ? static_cast<uint8_t>(from) : 0x80;
                    }
        }
    } split;
    __m128i rows[16];
    int usedRows[16];
    int used = 0;
    for (int k = 0; k < 16; ++k) {
        rows[used] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hueTable.data() + 16 * k));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(rows[used], _mm_setzero_si128())) != 0xFFFF) {
            usedRows[used++] = k;
        }
    }
    const __m128i sLo = _mm_set1_epi8(static_cast<char>(slo));
    const __m128i sHi = _mm_set1_epi8(static_cast<char>(shi));
    const __m128i vLo = _mm_set1_epi8(static_cast<char>(vlo));
    const __m128i vHi = _mm_set1_epi8(static_cast<char>(vhi));
    const __m128i lowNibble = _mm_set1_epi8(0x0F);
    int x = 0;
    for (; x + 16 <= cols; x += 16, pixel += 48) {
        const __m128i in[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel + 16)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel + 32))};
        __m128i channel[3];
        for (int c = 0; c < 3; ++c) {
            const __m128i* m = reinterpret_cast<const __m128i*>(split.m[c]);
            channel[c] = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(in[0], _mm_load_si128(m)),
                                                   _mm_shuffle_epi8(in[1], _mm_load_si128(m + 1))),
                                      _mm_shuffle_epi8(in[2], _mm_load_si128(m + 2)));
        }
        const __m128i s = channel[1];
        const __m128i v = channel[2];
        const __m128i band = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(s, sLo), s),
                                                         _mm_cmpeq_epi8(_mm_min_epu8(s, sHi), s)),
                                           _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, vLo), v),
                                                         _mm_cmpeq_epi8(_mm_min_epu8(v, vHi), v)));
        __m128i out = _mm_setzero_si128();
        if (_mm_movemask_epi8(band) != 0) {
            const __m128i h = channel[0];
            const __m128i low = _mm_and_si128(h, lowNibble);
            const __m128i high = _mm_and_si128(_mm_srli_epi16(h, 4), lowNibble);
            for (int i = 0; i < used; ++i) {
                const __m128i inRow =
                    _mm_cmpeq_epi8(high, _mm_set1_epi8(static_cast<char>(usedRows[i])));
                out = _mm_or_si128(out, _mm_and_si128(inRow, _mm_shuffle_epi8(rows[i], low)));
            }
            out = _mm_and_si128(out, band);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(result + x), out);
    }
    return x;
}
#endif

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

    intervals_ = passingInterval(saturationTable_, saturationLow_, saturationHigh_) &&
                 passingInterval(valueTable_, valueLow_, valueHigh_);

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
        int x = 0;
#ifdef CAMSTEER_SSSE3_BAND
        static const bool canShuffle = __builtin_cpu_supports("ssse3");
        if (canShuffle && intervals_) {
            x = bandRowSsse3(pixel, result, hsv.cols, hueTable_, saturationLow_, saturationHigh_,
                             valueLow_, valueHigh_);
            pixel += 3 * x;
        }
#endif
        for (; x < hsv.cols; ++x, pixel += 3) {
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
