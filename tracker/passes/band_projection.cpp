#include "tracker/passes/band_projection.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <opencv2/imgproc.hpp>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CAMSTEER_SSSE3_BAND 1
#endif

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

#ifdef CAMSTEER_SSSE3_BAND
// split.m[c][r][j]: the byte of input register r that is byte j of channel c, 0x80 if none.
alignas(16) const struct Split {
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

// The channels of 16 BGR pixels (48 bytes), split by byte shuffles.
__attribute__((target("ssse3"))) void splitChannels(const uchar* pixel, __m128i channel[3]) {
    const __m128i in[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel + 16)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel + 32))};
    for (int c = 0; c < 3; ++c) {
        const __m128i* m = reinterpret_cast<const __m128i*>(split.m[c]);
        channel[c] = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(in[0], _mm_load_si128(m)),
                                               _mm_shuffle_epi8(in[1], _mm_load_si128(m + 1))),
                                  _mm_shuffle_epi8(in[2], _mm_load_si128(m + 2)));
    }
}

// For 16 pixels the indexes the one-by-one pass computes: v * 256 + diff into the S and V
// table, and the conversion's hue index (HsvLookup::hueIndex) as (high << 9) | low, where high
// is largest * 256 + diff and low 256 + d (largest: R before G before B where they tie).
__attribute__((target("ssse3"))) void tableIndexesSsse3(const __m128i channel[3], uint16_t sv[16],
                                                        uint32_t hue[16]) {
    const __m128i b = channel[0], g = channel[1], r = channel[2];
    const __m128i v = _mm_max_epu8(b, _mm_max_epu8(g, r));
    const __m128i diff = _mm_sub_epi8(v, _mm_min_epu8(b, _mm_min_epu8(g, r)));
    const __m128i isR = _mm_cmpeq_epi8(r, v);
    const __m128i isG = _mm_andnot_si128(isR, _mm_cmpeq_epi8(g, v));
    const __m128i isB = _mm_andnot_si128(_mm_or_si128(isR, isG), _mm_set1_epi8(-1));
    const __m128i largest =
        _mm_or_si128(_mm_and_si128(isG, _mm_set1_epi8(1)), _mm_and_si128(isB, _mm_set1_epi8(2)));
    const __m128i zero = _mm_setzero_si128();
    for (int half = 0; half < 2; ++half) {
        auto widen = [&](__m128i x) {
            return half == 0 ? _mm_unpacklo_epi8(x, zero) : _mm_unpackhi_epi8(x, zero);
        };
        auto pair = [&](__m128i lowByte, __m128i highByte) {  // lowByte + 256 * highByte
            return half == 0 ? _mm_unpacklo_epi8(lowByte, highByte)
                             : _mm_unpackhi_epi8(lowByte, highByte);
        };
        const __m128i b16 = widen(b), g16 = widen(g), r16 = widen(r);
        const __m128i d =
            _mm_or_si128(_mm_or_si128(_mm_and_si128(pair(isR, isR), _mm_sub_epi16(g16, b16)),
                                      _mm_and_si128(pair(isG, isG), _mm_sub_epi16(b16, r16))),
                         _mm_and_si128(pair(isB, isB), _mm_sub_epi16(r16, g16)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sv + 8 * half), pair(diff, v));
        // 16-bit high and low into 32 bits: high << 9 | low, low < 512.
        const __m128i high = pair(diff, largest);
        const __m128i low = _mm_add_epi16(d, _mm_set1_epi16(256));
        const __m128i highShifted[2] = {_mm_slli_epi32(_mm_unpacklo_epi16(high, zero), 9),
                                        _mm_slli_epi32(_mm_unpackhi_epi16(high, zero), 9)};
        for (int quarter = 0; quarter < 2; ++quarter) {
            const __m128i low32 =
                quarter == 0 ? _mm_unpacklo_epi16(low, zero) : _mm_unpackhi_epi16(low, zero);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(hue + 8 * half + 4 * quarter),
                             _mm_or_si128(highShifted[quarter], low32));
        }
    }
}

// The pass over whole blocks of 16 pixels of a row: a pixel may pass the band only with V (the
// largest channel) in vlo..vhi and diff (V less the smallest) at least dmin; blocks of which
// none may pass are all zero, the others are looked up pixel by pixel, each through the S and
// V table and the hue's projection (both zero for a pixel that cannot pass, so no test is
// needed). Returns the first pixel left to do; ORs every value found into `seen`.
__attribute__((target("ssse3"))) int projectBlocksSsse3(const uchar* pixel, uchar* result, int cols,
                                                        uchar vlo, uchar vhi, uchar dmin,
                                                        const uchar* svTable,
                                                        const uchar* projection, uchar& seen) {
    const __m128i vLo = _mm_set1_epi8(static_cast<char>(vlo));
    const __m128i vHi = _mm_set1_epi8(static_cast<char>(vhi));
    const __m128i dMin = _mm_set1_epi8(static_cast<char>(dmin));
    int x = 0;
    for (; x + 16 <= cols; x += 16, pixel += 48) {
        __m128i channel[3];
        splitChannels(pixel, channel);
        const __m128i v = _mm_max_epu8(channel[0], _mm_max_epu8(channel[1], channel[2]));
        const __m128i diff =
            _mm_sub_epi8(v, _mm_min_epu8(channel[0], _mm_min_epu8(channel[1], channel[2])));
        const __m128i candidate =
            _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, vLo), v),
                                        _mm_cmpeq_epi8(_mm_min_epu8(v, vHi), v)),
                          _mm_cmpeq_epi8(_mm_max_epu8(diff, dMin), diff));
        if (_mm_movemask_epi8(candidate) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(result + x), _mm_setzero_si128());
            continue;
        }
        uint16_t sv[16];
        uint32_t hue[16];
        tableIndexesSsse3(channel, sv, hue);
        for (int i = 0; i < 16; ++i) {
            result[x + i] = static_cast<uchar>(svTable[sv[i]] & projection[hue[i]]);
            seen |= result[x + i];
        }
    }
    return x;
}

// The same over blocks of 32 pixels, where the processor has AVX2: each 128-bit lane holds 16
// pixels split by the same byte shuffles; a lane's pixels are looked up as above.
__attribute__((target("avx2"))) int projectBlocksAvx2(const uchar* pixel, uchar* result, int cols,
                                                      uchar vlo, uchar vhi, uchar dmin,
                                                      const uchar* svTable, const uchar* projection,
                                                      uchar& seen) {
    __m256i mask[3][3];
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 3; ++r) {
            mask[c][r] = _mm256_broadcastsi128_si256(
                _mm_load_si128(reinterpret_cast<const __m128i*>(split.m[c][r])));
        }
    }
    const __m256i vLo = _mm256_set1_epi8(static_cast<char>(vlo));
    const __m256i vHi = _mm256_set1_epi8(static_cast<char>(vhi));
    const __m256i dMin = _mm256_set1_epi8(static_cast<char>(dmin));
    int x = 0;
    for (; x + 32 <= cols; x += 32, pixel += 96) {
        __m256i in[3];
        for (int r = 0; r < 3; ++r) {
            in[r] = _mm256_inserti128_si256(
                _mm256_castsi128_si256(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel + 16 * r))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel + 48 + 16 * r)), 1);
        }
        __m256i channel[3];
        for (int c = 0; c < 3; ++c) {
            channel[c] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(in[0], mask[c][0]),
                                                         _mm256_shuffle_epi8(in[1], mask[c][1])),
                                         _mm256_shuffle_epi8(in[2], mask[c][2]));
        }
        const __m256i v = _mm256_max_epu8(channel[0], _mm256_max_epu8(channel[1], channel[2]));
        const __m256i diff = _mm256_sub_epi8(
            v, _mm256_min_epu8(channel[0], _mm256_min_epu8(channel[1], channel[2])));
        const __m256i candidate =
            _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(v, vLo), v),
                                              _mm256_cmpeq_epi8(_mm256_min_epu8(v, vHi), v)),
                             _mm256_cmpeq_epi8(_mm256_max_epu8(diff, dMin), diff));
        const uint32_t found = static_cast<uint32_t>(_mm256_movemask_epi8(candidate));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(result + x), _mm256_setzero_si256());
        for (int half = 0; half < 2 && found != 0; ++half) {
            if (((found >> (16 * half)) & 0xffffu) == 0) {
                continue;
            }
            const __m128i lane[3] = {half == 0 ? _mm256_castsi256_si128(channel[0])
                                               : _mm256_extracti128_si256(channel[0], 1),
                                     half == 0 ? _mm256_castsi256_si128(channel[1])
                                               : _mm256_extracti128_si256(channel[1], 1),
                                     half == 0 ? _mm256_castsi256_si128(channel[2])
                                               : _mm256_extracti128_si256(channel[2], 1)};
            uint16_t sv[16];
            uint32_t hue[16];
            tableIndexesSsse3(lane, sv, hue);
            uchar* out = result + x + 16 * half;
            for (int i = 0; i < 16; ++i) {
                out[i] = static_cast<uchar>(svTable[sv[i]] & projection[hue[i]]);
                seen |= out[i];
            }
        }
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
#ifdef CAMSTEER_SSSE3_BAND
        static const bool canShuffle = __builtin_cpu_supports("ssse3");
        static const bool canUseAvx2 = __builtin_cpu_supports("avx2");
        if (canShuffle && valueInterval_) {
            const uchar dmin = static_cast<uchar>(smallestDiff_);
            if (canUseAvx2) {
                done = projectBlocksAvx2(pixel, result, bgr.cols, valueLow_, valueHigh_, dmin,
                                         svTable, projection_.data(), seen);
            }
            done += projectBlocksSsse3(pixel + 3 * done, result + done, bgr.cols - done, valueLow_,
                                       valueHigh_, dmin, svTable, projection_.data(), seen);
        }
#endif
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
