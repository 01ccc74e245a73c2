#include "app/ui/failure_notice.hpp"

#include <sstream>
#include <vector>

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "app/session/signals.hpp"
#include "app/shell.hpp"

namespace camsteer {

namespace {

const int kFont = cv::FONT_HERSHEY_SIMPLEX;
const double kScale = 0.5;
const int kMargin = 12;
const int kLineHeight = 22;

int textWidth(const std::string& text) {
    int baseline = 0;
    return cv::getTextSize(text, kFont, kScale, 1, &baseline).width;
}

// Greedy word wrap to `width` pixels; a word wider than a line gets a line of its own.
std::vector<std::string> wrap(const std::string& text, int width) {
    std::vector<std::string> lines;
    std::istringstream words(text);
    std::string word;
    std::string line;
    while (words >> word) {
        const std::string longer = line.empty() ? word : line + " " + word;
        if (!line.empty() && textWidth(longer) > width) {
            lines.push_back(line);
            line = word;
        } else {
            line = longer;
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

cv::Mat failurePicture(const std::string& program, const std::string& message, int width) {
    std::vector<std::string> lines{program + " could not go on:", ""};
    for (const std::string& line : wrap(message, width - 2 * kMargin)) {
        lines.push_back(line);
    }
    lines.push_back("");
    lines.push_back("Press Esc or close this window.");
    const int height = 2 * kMargin + kLineHeight * static_cast<int>(lines.size());
    cv::Mat picture(height, width, CV_8UC3, cv::Scalar(0, 0, 96));
    for (size_t i = 0; i < lines.size(); ++i) {
        const int baselineY = kMargin + kLineHeight * static_cast<int>(i + 1) - 6;
        cv::putText(picture, lines[i], cv::Point(kMargin, baselineY), kFont, kScale,
                    cv::Scalar::all(255), 1, cv::LINE_AA);
    }
    return picture;
}

void showFailureUntilDismissed(const char* window, const cv::Mat& picture,
                               const std::function<bool()>& stopRequested) {
    cv::imshow(window, picture);
    for (;;) {
        const int key = cv::waitKey(50);
        if (key == 27 || cv::getWindowProperty(window, cv::WND_PROP_VISIBLE) < 1.0 ||
            (stopRequested && stopRequested())) {
            return;
        }
    }
}

void reportRunFailure(const CommandLine& line, const ShellOptions& options,
                      const std::string& why) {
    diagnose(options, why);
    if (line.showFailures && cv::getWindowProperty(kMainWindow, cv::WND_PROP_VISIBLE) >= 1.0) {
        showFailureUntilDismissed(kMainWindow, failurePicture(options.programName, why, 320),
                                  [] { return stopSignal() != 0; });
    }
}

}  // namespace camsteer
