#include "tracker/passes/band_blocks.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CAMSTEER_BAND_BLOCKS 1
#endif
// 64-bit Windows keeps the stack aligned to 16 bytes only, and GCC there may spill 32-byte
// registers with aligned moves: the 32-pixel scan stays off that system.
#if defined(CAMSTEER_BAND_BLOCKS) && !defined(_WIN32)
#define CAMSTEER_BAND_BLOCKS_AVX2 1
#endif

namespace camsteer {

#ifdef CAMSTEER_BAND_BLOCKS
namespace {

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

#ifdef CAMSTEER_BAND_BLOCKS_AVX2
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

int projectBlocks(const uchar* pixel, uchar* result, int cols, const BandBlocks& band,
                  uchar& seen) {
    static const bool canShuffle = __builtin_cpu_supports("ssse3");
    if (!canShuffle) {
        return 0;
    }
    int done = 0;
#ifdef CAMSTEER_BAND_BLOCKS_AVX2
    static const bool canUseAvx2 = __builtin_cpu_supports("avx2");
    if (canUseAvx2) {
        done = projectBlocksAvx2(pixel, result, cols, band.vlo, band.vhi, band.dmin, band.svTable,
                                 band.projection, seen);
    }
#endif
    return done + projectBlocksSsse3(pixel + 3 * done, result + done, cols - done, band.vlo,
                                     band.vhi, band.dmin, band.svTable, band.projection, seen);
}

#else

int projectBlocks(const uchar*, uchar*, int, const BandBlocks&, uchar&) {
    return 0;
}

#endif

}  // namespace camsteer
