#include "app/teaching_setup.hpp"

#include <opencv2/highgui.hpp>

#include "app/reference_picture.hpp"
#include "platform/process/quoted_name.hpp"

namespace camsteer {

namespace {

void onMouse(int event, int x, int y, int /*flags*/, void* userdata) {
    auto* shell = static_cast<ShellState*>(userdata);
    shell->teaching.onMouse(event, x, y, cv::Size(shell->captureWidth, shell->captureHeight));
}

}  // namespace

void installTeaching(ShellState& shell, const CommandLine& line, const ShellOptions& options) {
    cv::setMouseCallback(kMainWindow, onMouse, &shell);
    if (!line.learn) {
        return;
    }
    shell.saveTaught = [path = line.learnPath, options](const cv::Mat& picture) {
        std::string why;
        if (writePictureAtomically(path, picture, why)) {
            diagnose(options, "learnt the object's colour; wrote " + quotedName(path));
        } else {
            diagnose(options, why + "; the new colour is used for this run only");
        }
    };
}

void adoptTaughtReference(ShellState& shell) {
    const cv::Mat taught = shell.teaching.takeReference();
    if (taught.empty()) {
        return;
    }
    shell.referenceImage = taught;
    shell.tracker->buildHueModel(shell.referenceImage);
    if (shell.showHistogram) {
        shell.showHistogram(shell.tracker->histogramPicture());
    }
    if (shell.saveTaught) {
        shell.saveTaught(shell.referenceImage);
    }
}

}  // namespace camsteer
