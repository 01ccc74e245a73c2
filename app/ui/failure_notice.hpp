#pragma once

#include <functional>
#include <string>

#include <opencv2/core.hpp>

namespace camsteer {

// A failure written out for someone who started the program from a menu and sees no terminal:
// a heading naming `program`, `message` wrapped to the picture's width, and how to close it.
// White text on dark red, `width` pixels wide, as tall as the text needs.
cv::Mat failurePicture(const std::string& program, const std::string& message, int width);

// Shows `picture` in `window` (main thread) and waits until Escape is pressed there, the window
// is closed, or `stopRequested` answers true (a signal asked the run to end).
void showFailureUntilDismissed(const char* window, const cv::Mat& picture,
                               const std::function<bool()>& stopRequested);

}  // namespace camsteer
