#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

#include "app/ui/direction_display.hpp"
#include "app/ui/mailbox.hpp"
#include "app/ui/settings_panel.hpp"
#include "app/ui/teach.hpp"
#include "tracker/tracker.hpp"

namespace camsteer {

// The three windows.
inline constexpr const char* kMainWindow = "Camsteer";
inline constexpr const char* kOutputWindow = "Output";
inline constexpr const char* kHistogramWindow = "Histogram";

// Everything the shell owns for the length of a run.
struct ShellState {
    int captureWidth = 320;
    int captureHeight = 240;
    ArrowSet arrowSet;
    std::atomic<Arrow> currentArrow{kDefaultArrow};
    cv::Mat referenceImage;
    std::unique_ptr<Tracker> tracker;
    std::atomic<bool> frameOk{true};

    // The six trackbar positions (settings_panel.hpp); the direction display reads Near and Far.
    TrackbarPositions positions;

    // Finished pictures on their way from the capture thread to the windows.
    LatestPicture cameraPicture;
    LatestPicture outputPicture;
    // Raised once a frame's pictures are both posted.
    PictureSignal picturesReady;
    // The direction display's working copy of the arrow, and the marks last posted from it
    // (none before the first); capture thread only.
    cv::Mat directionPicture;
    std::optional<DirectionMarks> directionShown;

    // Shows a new hue-model picture; set by the shell to the "Histogram" window (main thread).
    std::function<void(const cv::Mat&)> showHistogram;

    // Teaching by a drag over "Camsteer" (main thread; its clean-frame tap is fed by onFrame).
    Teaching teaching;
    // With --learn: saves each taught picture (main thread); empty otherwise.
    std::function<void(const cv::Mat&)> saveTaught;
    // With --learn: keeps the set-up file in step, every turn of the window loop and, `atEnd`,
    // once more when the run ends (main thread; kept_settings.hpp); empty otherwise.
    std::function<void(bool atEnd)> keepSettings;
};

}  // namespace camsteer
