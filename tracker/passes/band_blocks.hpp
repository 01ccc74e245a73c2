#pragma once

#include <cstdint>

#include <opencv2/core.hpp>

namespace camsteer {

// What the band pass's block scan needs: its two tables and the bounds that rule a pixel out.
struct BandBlocks {
    const uchar* svTable;     // [v * 256 + diff]: 255 where S and V pass
    const uchar* projection;  // [HsvLookup::hueIndex]: the hue's back-projection
    uchar vlo, vhi;           // the V band, an interval
    uchar dmin;               // the smallest diff with which any V passes S
};

// The band pass over whole blocks of a row of BGR pixels, 32 at a time where the processor has
// AVX2 and then 16 at a time where it has SSSE3: a pixel may pass only with V (the largest
// channel) in vlo..vhi and diff (V less the smallest) at least dmin; blocks of which none may
// pass are all zero, the others are looked up pixel by pixel through both tables. Returns the
// first pixel left to do (0 without SSSE3); ORs every value written into `seen`.
int projectBlocks(const uchar* pixel, uchar* result, int cols, const BandBlocks& band, uchar& seen);

}  // namespace camsteer
