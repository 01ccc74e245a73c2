// Draws the direction pictures shown in the "Output" window and the two sample
// reference pictures, and writes them into OUTDIR:
//
//   camsteer_make_arrows OUTDIR
//
// The pictures in images/ are committed; rerun this (or build the
// regenerate-images target) after changing the drawing code.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "images/palette.hpp"

namespace {

constexpr int kSide = 200;
// The rightmost columns stay plain background: the program draws the coverage
// bar and its tick lines there.
constexpr int kBarStrip = 15;
constexpr int kSampleSide = 64;
// Fixed-point bits for sub-pixel polygon corners.
constexpr int kShift = 4;

const cv::Scalar kBackground(238, 236, 232);
const cv::Scalar kInk(50, 42, 36);
const cv::Scalar kLabelInk(110, 96, 84);
// Symbols are centred in the area left of the bar strip and above the label.
const cv::Point2d kCentre((kSide - kBarStrip) / 2.0, 92.0);

enum class Symbol { kArrow, kHold, kPlus, kMinus };

struct Picture {
    const char* file;
    Symbol symbol;
    int dx;  // arrow direction, screen coordinates (y grows downwards)
    int dy;
    const char* label;
};

const Picture kPictures[] = {
    {"arrow_downleft.bmp", Symbol::kArrow, -1, 1, "DOWN LEFT"},
    {"arrow_down.bmp", Symbol::kArrow, 0, 1, "DOWN"},
    {"arrow_downright.bmp", Symbol::kArrow, 1, 1, "DOWN RIGHT"},
    {"arrow_left.bmp", Symbol::kArrow, -1, 0, "LEFT"},
    {"arrow_default.bmp", Symbol::kHold, 0, 0, "HOLD"},
    {"arrow_right.bmp", Symbol::kArrow, 1, 0, "RIGHT"},
    {"arrow_upleft.bmp", Symbol::kArrow, -1, -1, "UP LEFT"},
    {"arrow_up.bmp", Symbol::kArrow, 0, -1, "UP"},
    {"arrow_upright.bmp", Symbol::kArrow, 1, -1, "UP RIGHT"},
    {"arrow_forward.bmp", Symbol::kPlus, 0, 0, "FWD +"},
    {"arrow_back.bmp", Symbol::kMinus, 0, 0, "BACK -"},
};

// Fills a polygon given in symbol coordinates: (x, y) maps to
// kCentre + x * along + y * across.
void fillShape(cv::Mat& img, const std::vector<cv::Point2d>& shape, cv::Point2d along) {
    const cv::Point2d across(-along.y, along.x);
    const double scale = 1 << kShift;
    std::vector<cv::Point> pts;
    pts.reserve(shape.size());
    for (const cv::Point2d& p : shape) {
        const cv::Point2d q = kCentre + p.x * along + p.y * across;
        pts.emplace_back(cvRound(q.x * scale), cvRound(q.y * scale));
    }
    cv::fillPoly(img, std::vector<std::vector<cv::Point>>{pts}, kInk, cv::LINE_AA, kShift);
}

void drawArrow(cv::Mat& img, int dx, int dy) {
    const double len = std::hypot(dx, dy);
    const cv::Point2d along(dx / len, dy / len);
    // Pointing along +x, centred on the origin: shaft then head.
    const std::vector<cv::Point2d> arrow = {{-64, -14}, {12, -14}, {12, -42}, {66, 0},
                                            {12, 42},   {12, 14},  {-64, 14}};
    fillShape(img, arrow, along);
}

void drawBar(cv::Mat& img, double halfLength, double halfWidth, cv::Point2d along) {
    fillShape(img,
              {{-halfLength, -halfWidth},
               {halfLength, -halfWidth},
               {halfLength, halfWidth},
               {-halfLength, halfWidth}},
              along);
}

cv::Mat drawPicture(const Picture& pic) {
    cv::Mat img(kSide, kSide, CV_8UC3, kBackground);
    switch (pic.symbol) {
        case Symbol::kArrow:
            drawArrow(img, pic.dx, pic.dy);
            break;
        case Symbol::kHold: {
            const double scale = 1 << kShift;
            cv::circle(img, cv::Point(cvRound(kCentre.x * scale), cvRound(kCentre.y * scale)),
                       24 << kShift, kInk, 8, cv::LINE_AA, kShift);
            break;
        }
        case Symbol::kPlus:
            drawBar(img, 60, 15, {1, 0});
            drawBar(img, 60, 15, {0, 1});
            break;
        case Symbol::kMinus:
            drawBar(img, 60, 15, {1, 0});
            break;
    }
    const int font = cv::FONT_HERSHEY_SIMPLEX;
    const double fontScale = 0.6;
    const int thickness = 2;
    int baseline = 0;
    const cv::Size text = cv::getTextSize(pic.label, font, fontScale, thickness, &baseline);
    const cv::Point origin(cvRound(kCentre.x - text.width / 2.0), kSide - 12);
    cv::putText(img, pic.label, origin, font, fontScale, kLabelInk, thickness, cv::LINE_AA);
    return img;
}

// A flat swatch of one colour whose brightness varies gently, as a photo of a
// matt object would. Scaling all channels by the same factor keeps the hue.
cv::Mat drawSample(const cv::Scalar& bgr, uint64_t seed) {
    cv::Mat img(kSampleSide, kSampleSide, CV_8UC3);
    cv::RNG rng(seed);
    for (int y = 0; y < img.rows; ++y) {
        for (int x = 0; x < img.cols; ++x) {
            double f = 0.86 + 0.08 * std::sin(x * 0.21) * std::cos(y * 0.17) - 0.002 * y +
                       rng.uniform(-0.04, 0.04);
            f = std::min(1.0, std::max(0.72, f));
            img.at<cv::Vec3b>(y, x) = cv::Vec3b(cv::saturate_cast<uchar>(bgr[0] * f),
                                                cv::saturate_cast<uchar>(bgr[1] * f),
                                                cv::saturate_cast<uchar>(bgr[2] * f));
        }
    }
    return img;
}

bool writeImage(const std::filesystem::path& path, const cv::Mat& img) {
    bool ok = false;
    try {
        ok = cv::imwrite(path.string(), img);
    } catch (const cv::Exception&) {
        ok = false;
    }
    if (!ok) {
        std::fprintf(stderr,
                     "camsteer_make_arrows: cannot write %s: check the folder is writable and "
                     "has free space\n",
                     path.c_str());
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    // Our own one-line messages say what went wrong; keep OpenCV's warnings out.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr,
                     "usage: camsteer_make_arrows OUTDIR (writes the direction pictures and "
                     "sample pictures into OUTDIR)\n");
        return 2;
    }
    const std::filesystem::path dir(argv[1]);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir, ec)) {
        std::fprintf(stderr,
                     "camsteer_make_arrows: cannot use %s as output folder (%s): give a "
                     "writable folder\n",
                     dir.c_str(), ec ? ec.message().c_str() : "not a folder");
        return 1;
    }
    for (const Picture& pic : kPictures) {
        if (!writeImage(dir / pic.file, drawPicture(pic))) {
            return 1;
        }
    }
    if (!writeImage(dir / "sample_blue.png", drawSample(camsteer::images::kBlueBgr, 7)) ||
        !writeImage(dir / "sample_red.png", drawSample(camsteer::images::kRedBgr, 11))) {
        return 1;
    }
    return 0;
}
