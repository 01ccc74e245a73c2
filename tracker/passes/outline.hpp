#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include <opencv2/core.hpp>

namespace camsteer {

// The target's outline: what cv::drawContours(image, {contour}, 0, colour, 2, cv::LINE_AA)
// draws on an 8-bit 3-channel image, pixel for pixel, in a small part of its time.
//
// The library draws a closed contour segment by segment, each as an anti-aliased quadrangle
// and a round cap at its end, one after the other. Every one of those writes each pixel it
// touches as a function of that pixel's value alone, channel by channel (blends of the colour
// by coverage, or the colour itself), and away from the image's edges the function depends
// only on the pixel's place relative to the segment, which for integer points is the same
// wherever the segment lies. So a segment's effect is recorded once per direction (dx, dy) as
// a table per touched pixel of what it makes of each of the 256 values for colour 0 and for
// colour 255, by the library drawing it on probe pictures; drawing replays the tables in the
// library's order. Segments near the edges, longer ones and other colours are drawn by the
// library's own primitives (`drawSegment`).
class OutlinePainter {
  public:
    void draw(cv::Mat& image, const std::vector<cv::Point>& contour, const cv::Scalar& colour);

    // One segment as the library's contour drawing draws it: the quadrangle from `from` to
    // `to`, then the cap at `to`.
    static void drawSegment(cv::Mat& image, cv::Point from, cv::Point to, const cv::Scalar& colour);

  private:
    // Directions recorded: |dx| and |dy| up to this.
    static constexpr int kReach = 40;
    // A segment is replayed only with both ends at least this far inside the image, where the
    // library's clipping cannot take part.
    static constexpr int kEdgeMargin = 5;

    // A table per touched pixel: what the drawing makes of each value, for colour 0 (the
    // first 256 entries) and for colour 255.
    static constexpr int kTableSize = 512;
    struct Touch {
        int dy, dx;      // from the segment's start
        int offset;      // the same in bytes, for rows of step_ bytes
        unsigned table;  // where its table starts in tables_
    };
    // A drawing probed: the pixels it touches (from its start) and their tables.
    struct Probed {
        std::vector<cv::Point> places;
        std::vector<uchar> tables;
    };
    static void drawQuadrangle(cv::Mat& image, cv::Point from, cv::Point to,
                               const cv::Scalar& colour);
    template <typename Draw>
    static Probed probe(int dx, int dy, Draw draw);
    const std::vector<Touch>& stamp(int dx, int dy);
    std::vector<Touch> record(int dx, int dy);
    unsigned intern(const uchar* table);

    Probed cap_;
    size_t step_ = 0;
    std::unordered_map<int, std::vector<Touch>> stamps_;
    std::vector<uchar> tables_;
    std::unordered_map<std::string, unsigned> tableIndex_;
};

}  // namespace camsteer
