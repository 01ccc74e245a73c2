#include "tracker/passes/outline.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <string>

#include <opencv2/imgproc.hpp>

namespace camsteer {

namespace {

constexpr int kShift = 16;  // the library's fixed-point drawing precision
constexpr int kOne = 1 << kShift;

}  // namespace

void OutlinePainter::drawQuadrangle(cv::Mat& image, cv::Point from, cv::Point to,
                                    const cv::Scalar& colour) {
    // A 2-pixel line's quadrangle: both ends moved by the unit normal times its half width
    // (one pixel), in the library's fixed point and with its rounding; none for a point.
    const double dx = from.x - to.x;
    const double dy = to.y - from.y;
    const double squared = dx * dx + dy * dy;
    if (std::fabs(squared) > DBL_EPSILON) {
        const double scale = kOne / std::sqrt(squared);
        const cv::Point normal(cvRound(dy * scale), cvRound(dx * scale));
        const cv::Point a = from * kOne, b = to * kOne;
        const cv::Point quad[4] = {a + normal, a - normal, b - normal, b + normal};
        cv::fillConvexPoly(image, quad, 4, colour, cv::LINE_AA, kShift);
    }
}

void OutlinePainter::drawSegment(cv::Mat& image, cv::Point from, cv::Point to,
                                 const cv::Scalar& colour) {
    drawQuadrangle(image, from, to, colour);
    cv::circle(image, to, 1, colour, cv::FILLED, cv::LINE_AA);  // the cap
}

unsigned OutlinePainter::intern(const uchar* table) {
    const std::string key(reinterpret_cast<const char*>(table), kTableSize);
    const auto found = tableIndex_.find(key);
    if (found != tableIndex_.end()) {
        return found->second;
    }
    const unsigned index = static_cast<unsigned>(tableIndex_.size());
    tables_.insert(tables_.end(), table, table + kTableSize);
    tableIndex_.emplace(key, index);
    return index;
}

template <typename Draw>
OutlinePainter::Probed OutlinePainter::probe(int dx, int dy, Draw draw) {
    // The drawing alone, well inside a probe picture, over every value: colour (0, 255, 255)
    // on (v, v, v + 128) for v < 128 gives colour 255 for all values and colour 0 below 128;
    // colour 0 on (v, v + 43, v + 86) for v from 128 to 170 the rest of colour 0. A pixel is
    // touched when the first pass (0 under colour 255) changes it: every blend with any
    // coverage raises it.
    const int margin = kEdgeMargin + 2;
    const cv::Size size(std::abs(dx) + 2 * margin + 1, std::abs(dy) + 2 * margin + 1);
    const cv::Point from(margin + std::max(0, -dx), margin + std::max(0, -dy));
    cv::Mat picture(size, CV_8UC3);
    Probed probed;
    for (int pass = 0; pass < 128 + 43; ++pass) {
        const bool bright = pass < 128;
        const int v = pass;
        const uchar fill[3] = {static_cast<uchar>(v), static_cast<uchar>(bright ? v : v + 43),
                               static_cast<uchar>(bright ? v + 128 : std::min(v + 86, 255))};
        // The drawing changes only the pixels it touches: after the first pass only those
        // are filled again.
        if (pass == 0) {
            picture.setTo(cv::Scalar(fill[0], fill[1], fill[2]));
        }
        for (const cv::Point place : probed.places) {
            cv::Vec3b& px = picture.at<cv::Vec3b>(from + place);
            px = cv::Vec3b(fill[0], fill[1], fill[2]);
        }
        draw(picture, from, bright ? cv::Scalar(0, 255, 255) : cv::Scalar::all(0));
        if (pass == 0) {
            for (int y = 0; y < size.height; ++y) {
                for (int x = 0; x < size.width; ++x) {
                    if (picture.at<cv::Vec3b>(y, x)[1] != 0) {
                        probed.places.emplace_back(x - from.x, y - from.y);
                    }
                }
            }
            probed.tables.resize(probed.places.size() * kTableSize);
        }
        for (size_t i = 0; i < probed.places.size(); ++i) {
            const cv::Vec3b px = picture.at<cv::Vec3b>(from + probed.places[i]);
            uchar* t = probed.tables.data() + i * kTableSize;
            if (bright) {
                t[v] = px[0];
                t[256 + v] = px[1];
                t[256 + v + 128] = px[2];
            } else {
                t[v] = px[0];
                t[v + 43] = px[1];
                t[std::min(v + 86, 255)] = px[2];
            }
        }
    }
    return probed;
}

std::vector<OutlinePainter::Touch> OutlinePainter::record(int dx, int dy) {
    // The quadrangle is probed per direction, the cap once; a pixel both touch gets the
    // cap's table applied to the quadrangle's, as drawing one after the other does.
    if (cap_.places.empty()) {
        cap_ = probe(0, 0, [](cv::Mat& p, cv::Point at, const cv::Scalar& colour) {
            cv::circle(p, at, 1, colour, cv::FILLED, cv::LINE_AA);
        });
    }
    Probed quad = probe(dx, dy, [&](cv::Mat& p, cv::Point at, const cv::Scalar& colour) {
        drawQuadrangle(p, at, at + cv::Point(dx, dy), colour);
    });
    for (size_t c = 0; c < cap_.places.size(); ++c) {
        const cv::Point place = cap_.places[c] + cv::Point(dx, dy);
        const uchar* capTable = cap_.tables.data() + c * kTableSize;
        size_t q = 0;
        while (q < quad.places.size() && quad.places[q] != place) {
            ++q;
        }
        if (q == quad.places.size()) {
            quad.places.push_back(place);
            quad.tables.insert(quad.tables.end(), capTable, capTable + kTableSize);
            continue;
        }
        uchar* t = quad.tables.data() + q * kTableSize;
        for (int v = 0; v < kTableSize; ++v) {
            t[v] = capTable[(v & 256) + t[v]];
        }
    }
    std::vector<Touch> touches;
    for (size_t i = 0; i < quad.places.size(); ++i) {
        const cv::Point place = quad.places[i];
        touches.push_back(Touch{place.y, place.x, place.y * static_cast<int>(step_) + 3 * place.x,
                                kTableSize * intern(quad.tables.data() + i * kTableSize)});
    }
    return touches;
}

const std::vector<OutlinePainter::Touch>& OutlinePainter::stamp(int dx, int dy) {
    const int key = (dy + kReach) * (2 * kReach + 1) + dx + kReach;
    auto found = stamps_.find(key);
    if (found == stamps_.end()) {
        found = stamps_.emplace(key, record(dx, dy)).first;
    }
    return found->second;
}

void OutlinePainter::draw(cv::Mat& image, const std::vector<cv::Point>& contour,
                          const cv::Scalar& colour) {
    // Which half of a table each channel reads: colour 0 or colour 255.
    int half[3];
    bool recordable = image.type() == CV_8UC3;
    for (int c = 0; c < 3; ++c) {
        recordable = recordable && (colour[c] == 0 || colour[c] == 255);
        half[c] = colour[c] == 255 ? 256 : 0;
    }
    if (!recordable || contour.empty()) {
        cv::drawContours(image, std::vector<std::vector<cv::Point>>{contour}, 0, colour, 2,
                         cv::LINE_AA);
        return;
    }
    if (image.step != step_) {
        step_ = image.step;
        for (auto& [key, touches] : stamps_) {
            for (Touch& t : touches) {
                t.offset = t.dy * static_cast<int>(step_) + 3 * t.dx;
            }
        }
    }
    const cv::Rect inside(kEdgeMargin, kEdgeMargin, image.cols - 2 * kEdgeMargin,
                          image.rows - 2 * kEdgeMargin);
    const size_t n = contour.size();
    for (size_t i = 0; i < n; ++i) {
        const cv::Point from = contour[i];
        const cv::Point to = contour[(i + 1) % n];
        const int dx = to.x - from.x, dy = to.y - from.y;
        if (!inside.contains(from) || !inside.contains(to) || std::abs(dx) > kReach ||
            std::abs(dy) > kReach) {
            drawSegment(image, from, to, colour);
            continue;
        }
        const std::vector<Touch>& touches = stamp(dx, dy);
        // Locals, as every byte written could otherwise alias them and force reloads.
        uchar* const start = image.ptr<uchar>(from.y) + 3 * from.x;
        const uchar* const tables = tables_.data();
        const int h0 = half[0], h1 = half[1], h2 = half[2];
        for (const Touch *t = touches.data(), *end = t + touches.size(); t != end; ++t) {
            uchar* const px = start + t->offset;
            const uchar* const table = tables + t->table;
            const uchar b = table[h0 + px[0]], g = table[h1 + px[1]], r = table[h2 + px[2]];
            px[0] = b;
            px[1] = g;
            px[2] = r;
        }
    }
}

}  // namespace camsteer
