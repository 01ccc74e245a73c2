#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include <opencv2/core.hpp>

#include "app/direction_display.hpp"
#include "app/mailbox.hpp"
#include "platform/capture.hpp"
#include "tracker/tracker.hpp"

namespace camsteer {

// Everything the shell owns for the length of a run.
struct ShellState {
    int captureWidth = 320;
    int captureHeight = 240;
    std::array<cv::Mat, kArrowCount> arrowSet;
    std::atomic<int> currentArrow{kDefaultArrow};
    cv::Mat referenceImage;
    std::unique_ptr<Tracker> tracker;
    std::atomic<bool> frameOk{true};

    // Trackbar positions; Near and Far are also read by the direction display.
    std::atomic<int> vminPos{0};
    std::atomic<int> sminPos{0};
    std::atomic<int> vmaxPos{0};
    std::atomic<int> trackMinPos{0};
    std::atomic<int> nearPos{0};
    std::atomic<int> farPos{0};

    // Finished pictures on their way from the capture thread to the windows.
    LatestPicture cameraPicture;
    LatestPicture outputPicture;
    // Raised once a frame's pictures are both posted.
    PictureSignal picturesReady;
    // The direction display's working copy of the arrow; capture thread only.
    cv::Mat directionPicture;

    // Shows a new hue-model picture; set by the shell to the "Histogram" window (main thread).
    std::function<void(const cv::Mat&)> showHistogram;
};

// The six trackbars, in the order they appear under "Camsteer".
enum class Trackbar { Vmin, Smin, Vmax, TrackMin, Near, Far };
struct TrackbarInfo {
    Trackbar which;
    const char* name;
    int maximum;
};
extern const std::array<TrackbarInfo, 6> kTrackbars;

// Sets every position from the tracker's current settings (fractions x 100, truncated).
void initTrackbarPositions(ShellState& shell);
int trackbarPosition(const ShellState& shell, Trackbar which);
// What moving a trackbar does: store the position and the setting it stands for; the colour
// band ones rebuild the hue model and show its new picture. A position equal to the current
// setting changes nothing.
void applyTrackbar(ShellState& shell, Trackbar which, int position);
// Creates the six trackbars on "Camsteer" (main thread, window system present).
void createSettingsPanel(ShellState& shell);

// The per-frame work of the capture thread: the tracker's pass, then the direction display.
void onFrame(ShellState& shell, cv::Mat& frame);
// Chooses and draws the direction picture from the tracker's latest results and posts it.
void showDirection(ShellState& shell);

// Finds the folder the arrow pictures are loaded from: images/ in the working directory first,
// then the installed data folder. Empty when none holds them.
std::string findImagesDir();

struct ShellOptions {
    const char* programName = "camsteer";
    bool sendKeys = true;
    // Null for the camera; otherwise the clip argument's position on the command line.
    int clipArgument = 0;
};

// The whole program: start-up, key loop, shutdown. Returns the exit status.
int runShell(const ShellOptions& options, int argc, char** argv);

}  // namespace camsteer
