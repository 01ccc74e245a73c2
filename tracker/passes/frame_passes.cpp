#include "tracker/passes/frame_passes.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CAMSTEER_SSSE3_MIRROR 1
#endif

namespace camsteer {

namespace {

// Swaps pixel `left` with pixel `right` and so on inwards until they meet.
void swapPixels(uchar* row, int left, int right) {
    for (uchar *a = row + 3 * left, *b = row + 3 * right; a < b; a += 3, b -= 3) {
        std::swap(a[0], b[0]);
        std::swap(a[1], b[1]);
        std::swap(a[2], b[2]);
    }
}

#ifdef CAMSTEER_SSSE3_MIRROR
// 16 pixels (48 bytes, three registers) reverse their order with one byte shuffle per pair of
// input and output register: masks[out][in][j] is the byte of register `in` that goes to byte
// j of register `out`, or 0x80 (zero) where that byte comes from another register.
struct ReverseMasks {
    alignas(16) uint8_t masks[3][3][16];
    ReverseMasks() {
        for (int out = 0; out < 3; ++out) {
            for (int in = 0; in < 3; ++in) {
                for (int j = 0; j < 16; ++j) {
                    const int i = 16 * out + j;
                    const int from = 3 * (15 - i / 3) + i % 3 - 16 * in;
                    masks[out][in][j] = from >= 0 && from < 16 ? static_cast<uint8_t>(from) : 0x80;
                }
            }
        }
    }
};

__attribute__((target("ssse3"))) void mirrorSsse3(cv::Mat& image) {
    static const ReverseMasks reverse;
    __m128i mask[3][3];
    for (int out = 0; out < 3; ++out) {
        for (int in = 0; in < 3; ++in) {
            mask[out][in] =
                _mm_load_si128(reinterpret_cast<const __m128i*>(reverse.masks[out][in]));
        }
    }
    const int width = image.cols;
    for (int y = 0; y < image.rows; ++y) {
        uchar* row = image.ptr<uchar>(y);
        // Blocks of 16 pixels from both ends trade places reversed; l + r stays width - 16.
        int l = 0;
        int r = width - 16;
        for (; l + 16 <= r; l += 16, r -= 16) {
            __m128i* blocks[2] = {reinterpret_cast<__m128i*>(row + 3 * l),
                                  reinterpret_cast<__m128i*>(row + 3 * r)};
            __m128i reversed[2][3];
            for (int b = 0; b < 2; ++b) {
                const __m128i in[3] = {_mm_loadu_si128(blocks[b]), _mm_loadu_si128(blocks[b] + 1),
                                       _mm_loadu_si128(blocks[b] + 2)};
                for (int out = 0; out < 3; ++out) {
                    reversed[b][out] =
                        _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(in[0], mask[out][0]),
                                                  _mm_shuffle_epi8(in[1], mask[out][1])),
                                     _mm_shuffle_epi8(in[2], mask[out][2]));
                }
            }
            for (int out = 0; out < 3; ++out) {
                _mm_storeu_si128(blocks[0] + out, reversed[1][out]);
                _mm_storeu_si128(blocks[1] + out, reversed[0][out]);
            }
        }
        swapPixels(row, l, r + 15);  // the fewer than 32 pixels left in the middle
    }
}
#endif

}  // namespace

void mirrorInPlace(cv::Mat& image) {
    CV_Assert(image.type() == CV_8UC3);
#ifdef CAMSTEER_SSSE3_MIRROR
    static const bool canShuffle = __builtin_cpu_supports("ssse3");
    if (canShuffle) {
        mirrorSsse3(image);
        return;
    }
#endif
    cv::flip(image, image, 1);
}

namespace {

// Pixels x0..x1 of row y, those within the image.
void paintRun(cv::Mat& image, int y, int x0, int x1, const cv::Vec3b& colour) {
    if (y < 0 || y >= image.rows) {
        return;
    }
    cv::Vec3b* row = image.ptr<cv::Vec3b>(y);
    for (int x = std::max(x0, 0), end = std::min(x1, image.cols - 1); x <= end; ++x) {
        row[x] = colour;
    }
}

}  // namespace

void paintBox(cv::Mat& image, cv::Point a, cv::Point b, const cv::Scalar& colour) {
    CV_Assert(image.type() == CV_8UC3);
    const cv::Vec3b c =
        cv::Vec3b(cv::saturate_cast<uchar>(colour[0]), cv::saturate_cast<uchar>(colour[1]),
                  cv::saturate_cast<uchar>(colour[2]));
    const int x0 = std::min(a.x, b.x), x1 = std::max(a.x, b.x);
    const int y0 = std::min(a.y, b.y), y1 = std::max(a.y, b.y);
    // The caps add nothing the other sides do not paint.
    for (const int y : {y0, y1}) {  // the top and bottom sides
        for (int row = y - 1; row <= y + 1; ++row) {
            paintRun(image, row, x0, x1, c);
        }
    }
    for (int y = std::max(y0, 0), end = std::min(y1, image.rows - 1); y <= end; ++y) {
        paintRun(image, y, x0 - 1, x0 + 1, c);  // the left and right sides
        paintRun(image, y, x1 - 1, x1 + 1, c);
    }
}

void PaintedRuns::findRuns() {
    runs_.clear();
    for (int y = 0; y < picture_.rows; ++y) {
        const cv::Vec3b* row = picture_.ptr<cv::Vec3b>(y);
        for (int x = 0; x < picture_.cols;) {
            if (row[x] == cv::Vec3b(0, 0, 0)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < picture_.cols && row[x] != cv::Vec3b(0, 0, 0)) {
                ++x;
            }
            runs_.push_back(Run{y, start, x - start});
        }
    }
}

void PaintedRuns::paint(cv::Mat& image) const {
    CV_Assert(image.size() == picture_.size() && image.type() == picture_.type());
    for (const Run& run : runs_) {
        std::memcpy(image.ptr<uchar>(run.y, run.x), picture_.ptr<uchar>(run.y, run.x),
                    3 * static_cast<size_t>(run.length));
    }
}

}  // namespace camsteer
