#pragma once

#include <opencv2/core.hpp>

#include "app/shell.hpp"

namespace camsteer {

// The per-frame work of the capture thread: the tracker's pass, then the direction display.
void onFrame(ShellState& shell, cv::Mat& frame);
// Chooses and draws the direction picture from the tracker's latest results and posts it, when
// it differs from the one posted last.
void showDirection(ShellState& shell);

}  // namespace camsteer
