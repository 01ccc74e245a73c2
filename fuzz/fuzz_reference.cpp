// Arbitrary bytes as a reference picture: decoded as the program decodes its reference, then a
// tracker made from whatever that gave and rebuilt with other colour band settings. Any crash,
// sanitizer report or broken promise of the loader or the model is a finding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>

#include "app/reference_picture.hpp"
#include "tracker/tracker.hpp"

namespace {

void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// The model's promise: 16 bins, each 0..255, the largest 255 unless all are 0.
void checkModel(const camsteer::Tracker& tracker) {
    const cv::Mat model = tracker.hueModel();
    require(model.rows == camsteer::Tracker::kHistogramBins && model.cols == 1);
    double lowest = 0.0;
    double highest = 0.0;
    cv::minMaxLoc(model, &lowest, &highest);
    require(lowest >= 0.0 && highest <= 255.0 + 1e-3);
    require(highest == 0.0 || highest >= 255.0 - 1e-3);
    const cv::Mat picture = tracker.histogramPicture();
    require(picture.rows == camsteer::Tracker::kHistogramSize && picture.type() == CV_8UC3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = [] {
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
        cv::setNumThreads(1);
        return true;
    }();
    (void)once;

    const std::vector<uchar> bytes(data, data + size);
    std::string why;
    const cv::Mat picture = camsteer::decodeReferencePicture(bytes, why);
    require(picture.empty() || picture.type() == CV_8UC3);
    require(picture.total() <= static_cast<size_t>(camsteer::kMaxReferencePixels));
    require(why.find('\n') == std::string::npos);

    camsteer::Tracker tracker(picture, 320, 240);
    checkModel(tracker);
    // Other settings: the widest band, then an inverted value band with nothing passing.
    tracker.smin = 0;
    tracker.vmin = 0;
    tracker.vmax = 256;
    tracker.buildHueModel(picture);
    checkModel(tracker);
    tracker.vmin = 200;
    tracker.vmax = 200;
    tracker.buildHueModel(picture);
    checkModel(tracker);
    require(cv::countNonZero(tracker.hueModel()) == 0);
    return 0;
}
