#pragma once

#include <functional>
#include <string>

#include <opencv2/core.hpp>

#include "app/options.hpp"
#include "app/shell_options.hpp"

namespace camsteer {

// A failure written out for someone who started the program from a menu and sees no terminal:
// a heading naming `program`, `message` wrapped to the picture's width, and how to close it.
// White text on dark red, `width` pixels wide, as tall as the text needs.
cv::Mat failurePicture(const std::string& program, const std::string& message, int width);

// Shows `picture` in `window` (main thread) and waits until Escape is pressed there, the window
// is closed, or `stopRequested` answers true (a signal asked the run to end).
void showFailureUntilDismissed(const char* window, const cv::Mat& picture,
                               const std::function<bool()>& stopRequested);

// A failure once the windows are up: the one line on standard error and, with
// --show-failures, the same text in "Camsteer" until the user dismisses it.
void reportRunFailure(const CommandLine& line, const ShellOptions& options, const std::string& why);

}  // namespace camsteer
