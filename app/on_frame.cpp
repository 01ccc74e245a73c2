#include <cstdio>

#include "app/on_frame.hpp"
#include "platform/process/program_name.hpp"

namespace camsteer {

void showDirection(ShellState& shell) {
    const Tracker& tracker = *shell.tracker;
    const Arrow arrow = chooseArrow(tracker.directions());
    shell.currentArrow = arrow;
    const DirectionMarks marks =
        directionMarks(arrow, tracker.centre(), tracker.coverage(), shell.positions.nearPos,
                       shell.positions.farPos, cv::Size(shell.captureWidth, shell.captureHeight),
                       shell.arrowSet[arrow].size());
    if (shell.directionShown && *shell.directionShown == marks) {
        return;  // "Output" shows this already: no copy, no drawing, nothing for the window
    }
    shell.directionShown = marks;
    shell.arrowSet[arrow].copyTo(shell.directionPicture);
    drawDirection(shell.directionPicture, marks);
    shell.outputPicture.post(shell.directionPicture);
}

void onFrame(ShellState& shell, cv::Mat& frame) {
    try {
        // When a selection asks for it, a copy of the frame before the tracker draws on it.
        shell.teaching.tap().offer(frame);
        shell.frameOk = shell.tracker->processFrame(frame);
    } catch (const cv::Exception& e) {
        // An image operation that throws would otherwise end the process from the capture
        // thread with no key released; treat it as a failed frame instead.
        std::fprintf(stderr, "%s: frame failed in the image library: %s\n", programName(),
                     e.what());
        shell.frameOk = false;
    }
    showDirection(shell);
}

}  // namespace camsteer
