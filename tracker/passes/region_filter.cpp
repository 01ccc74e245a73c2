#include "tracker/passes/region_filter.hpp"

#include <algorithm>
#include <cstring>

#include <opencv2/imgproc.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#define CAMSTEER_SSE2_FILTER 1
#endif

namespace camsteer {

void RegionFilter::libraryPath(cv::Mat& image) {
    // A 3 x 3 square is dilate's default element; a replicated border, as for the blur, keeps
    // regions at the edge of the frame from shrinking.
    const int border = cv::BORDER_REPLICATE | cv::BORDER_ISOLATED;
    cv::dilate(image, image, cv::Mat(), cv::Point(-1, -1), 3, border);
    cv::GaussianBlur(image, image, cv::Size(3, 3), 0, 0, border);
}

#ifdef CAMSTEER_SSE2_FILTER

namespace {

inline __m128i load(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}
inline void store(void* p, __m128i v) {
    _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

// Calls block(x) for x = 0, 16, ... and, where the width is not a multiple of 16, once more for
// the last 16 pixels, overlapping the block before (each output depends only on inputs, which
// the blocks do not write). Widths under 16 are left to `pixel`, one x at a time.
template <typename Block, typename Pixel>
void inBlocks(int width, Block block, Pixel pixel) {
    if (width < 16) {
        for (int x = 0; x < width; ++x) {
            pixel(x);
        }
        return;
    }
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        block(x);
    }
    if (x < width) {
        block(width - 16);
    }
}

// out[x] = largest of in[x .. x + 6], for x < width.
void maxOfSeven(const uchar* in, uchar* out, int width) {
    inBlocks(
        width,
        [&](int x) {
            const uchar* p = in + x;
            __m128i m = _mm_max_epu8(load(p), load(p + 1));
            m = _mm_max_epu8(m, _mm_max_epu8(load(p + 2), load(p + 3)));
            m = _mm_max_epu8(m, _mm_max_epu8(load(p + 4), load(p + 5)));
            store(out + x, _mm_max_epu8(m, load(p + 6)));
        },
        [&](int x) { out[x] = *std::max_element(in + x, in + x + 7); });
}

// out[x] = largest of rows[0..6][x], for x < width.
void maxOfSevenRows(const uchar* const* rows, uchar* out, int width) {
    inBlocks(
        width,
        [&](int x) {
            __m128i m = _mm_max_epu8(load(rows[0] + x), load(rows[1] + x));
            m = _mm_max_epu8(m, _mm_max_epu8(load(rows[2] + x), load(rows[3] + x)));
            m = _mm_max_epu8(m, _mm_max_epu8(load(rows[4] + x), load(rows[5] + x)));
            store(out + x, _mm_max_epu8(m, load(rows[6] + x)));
        },
        [&](int x) {
            uchar m = rows[0][x];
            for (int k = 1; k < 7; ++k) {
                m = std::max(m, rows[k][x]);
            }
            out[x] = m;
        });
}

// out[x] = in[x] + 2 in[x + 1] + in[x + 2], for x < width.
void sumOneTwoOne(const uchar* in, uint16_t* out, int width) {
    const __m128i zero = _mm_setzero_si128();
    inBlocks(
        width,
        [&](int x) {
            const __m128i a = load(in + x), b = load(in + x + 1), c = load(in + x + 2);
            const __m128i low =
                _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(c, zero)),
                              _mm_slli_epi16(_mm_unpacklo_epi8(b, zero), 1));
            const __m128i high =
                _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(c, zero)),
                              _mm_slli_epi16(_mm_unpackhi_epi8(b, zero), 1));
            store(out + x, low);
            store(out + x + 8, high);
        },
        [&](int x) { out[x] = static_cast<uint16_t>(in[x] + 2 * in[x + 1] + in[x + 2]); });
}

// out[x] = (above[x] + 2 here[x] + below[x] + 8) / 16, for x < width.
void blurColumn(const uint16_t* above, const uint16_t* here, const uint16_t* below, uchar* out,
                int width) {
    const __m128i eight = _mm_set1_epi16(8);
    auto half = [&](int at) {
        const __m128i s = _mm_add_epi16(_mm_add_epi16(load(above + at), load(below + at)),
                                        _mm_slli_epi16(load(here + at), 1));
        return _mm_srli_epi16(_mm_add_epi16(s, eight), 4);
    };
    inBlocks(
        width, [&](int x) { store(out + x, _mm_packus_epi16(half(x), half(x + 8))); },
        [&](int x) { out[x] = static_cast<uchar>((above[x] + 2 * here[x] + below[x] + 8) >> 4); });
}

}  // namespace

void RegionFilter::apply(cv::Mat& image) {
    CV_Assert(image.type() == CV_8UC1);
    const int width = image.cols;
    const int height = image.rows;
    if (width == 0 || height == 0) {
        return;
    }
    const size_t area = static_cast<size_t>(width) * height;
    // Reads of 16 bytes may run up to 15 bytes past the last pixel a row needs.
    padded_.resize(std::max(padded_.size(), static_cast<size_t>(width) + 6 + 16));
    dilated_.resize(std::max(dilated_.size(), static_cast<size_t>(width) + 2 + 16));
    rowMaxima_.resize(std::max(rowMaxima_.size(), area));
    rowSums_.resize(std::max(rowSums_.size(), area));

    for (int y = 0; y < height; ++y) {
        const uchar* row = image.ptr<uchar>(y);
        uchar* p = padded_.data();
        std::memset(p, row[0], 3);
        std::memcpy(p + 3, row, width);
        std::memset(p + 3 + width, row[width - 1], 3);
        maxOfSeven(p, rowMaxima_.data() + static_cast<size_t>(y) * width, width);
    }
    for (int y = 0; y < height; ++y) {
        const uchar* rows[7];
        for (int k = 0; k < 7; ++k) {
            const int from = std::min(std::max(y + k - 3, 0), height - 1);
            rows[k] = rowMaxima_.data() + static_cast<size_t>(from) * width;
        }
        uchar* d = dilated_.data();
        maxOfSevenRows(rows, d + 1, width);
        d[0] = d[1];
        d[width + 1] = d[width];
        sumOneTwoOne(d, rowSums_.data() + static_cast<size_t>(y) * width, width);
    }
    for (int y = 0; y < height; ++y) {
        const uint16_t* sums = rowSums_.data();
        blurColumn(sums + static_cast<size_t>(std::max(y - 1, 0)) * width,
                   sums + static_cast<size_t>(y) * width,
                   sums + static_cast<size_t>(std::min(y + 1, height - 1)) * width,
                   image.ptr<uchar>(y), width);
    }
}

#else

void RegionFilter::apply(cv::Mat& image) {
    libraryPath(image);
}

#endif

}  // namespace camsteer
