// Writes MJPG clips of a blue ball in front of a plain grey background, for the
// demo and for end-to-end tests:
//
//   camsteer_make_clip OUT.avi demo
//   camsteer_make_clip OUT.avi hold CX CY RADIUS FRAMES [FPS [EMPTY]]
//   camsteer_make_clip OUT.avi size W H FRAMES
//   camsteer_make_clip OUT.avi use|cells|near|far|absent
//   camsteer_make_clip OUT.avi tremor|jitter
//
// Coordinates are those of the stored picture (top-down, not mirrored). EMPTY frames without
// the ball come first, so a test can put the key receiver in place before the ball appears.
// The clip of use and its segment kinds are described in clip_paths.hpp.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "images/clip_check.hpp"
#include "images/clip_paths.hpp"
#include "images/palette.hpp"

namespace {

using camsteer::images::demoPath;
using camsteer::images::framesOf;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kDefaultFps = 15;

const char kUsage[] =
    "usage: camsteer_make_clip OUT.avi demo | OUT.avi hold CX CY RADIUS FRAMES [FPS [EMPTY]] | "
    "OUT.avi size W H FRAMES | OUT.avi use|cells|near|far|absent | OUT.avi tremor|jitter";

// Grey with a gentle gradient and a faint cool tint; saturation stays far
// below what the colour mask accepts.
cv::Mat makeBackground(cv::Size size) {
    cv::Mat bg(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            const double v = 112.0 + 40.0 * y / size.height + 14.0 * x / size.width;
            bg.at<cv::Vec3b>(y, x) =
                cv::Vec3b(cv::saturate_cast<uchar>(v + 4), cv::saturate_cast<uchar>(v + 1),
                          cv::saturate_cast<uchar>(v - 3));
        }
    }
    return bg;
}

// A ball lit from the upper left: full colour at the highlight, darker towards
// the rim, with an anti-aliased edge. All channels scale together, so the hue
// is the same everywhere.
void drawBall(cv::Mat& img, cv::Point2d c, double r) {
    if (r <= 0) {
        return;
    }
    const cv::Scalar& col = camsteer::images::kBlueBgr;
    const cv::Point2d light = c + cv::Point2d(-0.35 * r, -0.35 * r);
    const int x0 = std::max(0, static_cast<int>(std::floor(c.x - r - 1)));
    const int x1 = std::min(img.cols - 1, static_cast<int>(std::ceil(c.x + r + 1)));
    const int y0 = std::max(0, static_cast<int>(std::floor(c.y - r - 1)));
    const int y1 = std::min(img.rows - 1, static_cast<int>(std::ceil(c.y + r + 1)));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const cv::Point2d p(x, y);
            const double d = std::hypot(p.x - c.x, p.y - c.y);
            const double cover = std::clamp(r + 0.5 - d, 0.0, 1.0);
            if (cover <= 0) {
                continue;
            }
            const double t = std::hypot(p.x - light.x, p.y - light.y) / (1.35 * r);
            const double shade = 1.0 - 0.3 * std::min(1.0, t * t);
            cv::Vec3b& px = img.at<cv::Vec3b>(y, x);
            for (int ch = 0; ch < 3; ++ch) {
                px[ch] = cv::saturate_cast<uchar>(cover * col[ch] * shade + (1 - cover) * px[ch]);
            }
        }
    }
}

bool parseInt(const char* text, long lo, long hi, int& out) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < lo || v > hi) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

struct Arg {
    const char* name;
    long lo;
    long hi;
    int* out;
};

// Parses argv[first..] into `args`; on error prints one line and returns false.
bool parseArgs(char** argv, int first, std::initializer_list<Arg> args) {
    int i = first;
    for (const Arg& a : args) {
        if (!parseInt(argv[i], a.lo, a.hi, *a.out)) {
            std::fprintf(stderr, "camsteer_make_clip: bad %s '%s' (expected %ld..%ld); %s\n",
                         a.name, argv[i], a.lo, a.hi, kUsage);
            return false;
        }
        ++i;
    }
    return true;
}

// OpenCV's own MJPG writer: needs no codec packages and gives the same file everywhere. Returns
// false when the file cannot be opened for writing.
bool writeFrames(const std::string& path, cv::Size size, int fps,
                 const std::vector<cv::Point3d>& frames, const std::vector<int>& quality) {
    cv::VideoWriter writer;
    try {
        writer.open(path, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps,
                    size, true);
    } catch (const cv::Exception&) {
    }
    if (!writer.isOpened()) {
        return false;
    }
    const cv::Mat bg = makeBackground(size);
    cv::Mat frame;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        bg.copyTo(frame);
        drawBall(frame, {frames[i].x, frames[i].y}, frames[i].z);
        writer.set(cv::VIDEOWRITER_PROP_QUALITY, quality[i]);
        writer.write(frame);
    }
    writer.release();
    return true;
}

int writeClip(const std::string& path, cv::Size size, int fps,
              const std::vector<cv::Point3d>& frames) {
    // The writer truncates a frame whose coded picture ends on a 32-bit boundary (about one in
    // 32), and readers report it as corrupt on every play. Such a frame is written again one
    // quality step lower, which changes its length, until every frame decodes cleanly; the
    // other frames stay as they were.
    constexpr int kQuality = 75;
    std::vector<int> quality(frames.size(), kQuality);
    for (int pass = 0; pass < 8; ++pass) {
        if (!writeFrames(path, size, fps, frames, quality)) {
            std::fprintf(stderr,
                         "camsteer_make_clip: cannot open %s for writing: check the folder "
                         "exists and is writable\n",
                         path.c_str());
            return 1;
        }
        const std::vector<int> damaged = camsteer::images::damagedFrames(path);
        if (damaged.empty()) {
            return 0;
        }
        for (const int i : damaged) {
            if (i < 0 || i >= static_cast<int>(quality.size())) {
                std::fprintf(stderr, "camsteer_make_clip: %s cannot be read back: check the disk\n",
                             path.c_str());
                return 1;
            }
            --quality[i];
        }
    }
    std::fprintf(stderr,
                 "camsteer_make_clip: %s still has corrupt frames after 8 passes: report this "
                 "as a bug\n",
                 path.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Our own one-line messages say what went wrong; keep OpenCV's warnings out.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    if (argc < 3) {
        std::fprintf(stderr, "camsteer_make_clip: missing arguments; %s\n", kUsage);
        return 2;
    }
    const std::string out = argv[1];
    const std::string mode = argv[2];
    if (mode == "demo") {
        if (argc != 3) {
            std::fprintf(stderr, "camsteer_make_clip: demo takes no further arguments; %s\n",
                         kUsage);
            return 2;
        }
        return writeClip(out, {kWidth, kHeight}, kDefaultFps, framesOf(demoPath()));
    }
    if (camsteer::images::isTremorKind(mode) && argc == 3) {
        return writeClip(out, {kWidth, kHeight}, camsteer::images::tremorFps(mode),
                         camsteer::images::tremorFrames(mode));
    }
    if (camsteer::images::isUseKind(mode)) {
        if (argc != 3) {
            std::fprintf(stderr, "camsteer_make_clip: %s takes no further arguments; %s\n",
                         mode.c_str(), kUsage);
            return 2;
        }
        return writeClip(out, {kWidth, kHeight}, camsteer::images::kUseFps,
                         camsteer::images::useFrames(mode));
    }
    if (mode == "hold") {
        if (argc < 7 || argc > 9) {
            std::fprintf(stderr,
                         "camsteer_make_clip: hold takes CX CY RADIUS FRAMES [FPS [EMPTY]]; %s\n",
                         kUsage);
            return 2;
        }
        int cx = 0, cy = 0, radius = 0, count = 0, fps = kDefaultFps, empty = 0;
        if (!parseArgs(argv, 3,
                       {{"CX", -10000, 10000, &cx},
                        {"CY", -10000, 10000, &cy},
                        {"RADIUS", 0, 10000, &radius},
                        {"FRAMES", 1, 100000, &count}}) ||
            (argc >= 8 && !parseArgs(argv, 7, {{"FPS", 1, 240, &fps}})) ||
            (argc == 9 && !parseArgs(argv, 8, {{"EMPTY", 0, 100000, &empty}}))) {
            return 2;
        }
        std::vector<cv::Point3d> frames(empty, cv::Point3d(0, 0, 0));
        frames.insert(frames.end(), count, cv::Point3d(cx, cy, radius));
        return writeClip(out, {kWidth, kHeight}, fps, frames);
    }
    if (mode == "size") {
        if (argc != 6) {
            std::fprintf(stderr, "camsteer_make_clip: size takes W H FRAMES; %s\n", kUsage);
            return 2;
        }
        int w = 0, h = 0, count = 0;
        if (!parseArgs(argv, 3,
                       {{"W", 16, 4096, &w}, {"H", 16, 4096, &h}, {"FRAMES", 1, 100000, &count}})) {
            return 2;
        }
        const std::vector<cv::Point3d> frames(count, cv::Point3d(0, 0, 0));
        return writeClip(out, {w, h}, kDefaultFps, frames);
    }
    std::fprintf(stderr, "camsteer_make_clip: unknown mode '%s'; %s\n", mode.c_str(), kUsage);
    return 2;
}
