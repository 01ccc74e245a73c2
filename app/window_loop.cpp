#include "app/window_loop.hpp"

#include <chrono>

#include <opencv2/highgui.hpp>

#include "app/session/run_watch.hpp"
#include "app/session/signals.hpp"
#include "app/teaching_setup.hpp"

namespace camsteer {

namespace {

constexpr int kEscape = 27;
// The longest sleep between two turns of the loop, when no frame's pictures end it earlier.
constexpr std::chrono::milliseconds kLongestSleep{50};

// Whether a wait result ends the run. -1 means no key came, so an idle loop never stops here.
// 0 is a key press without a usable code: this (Qt) build reports a Latin-1 key by its character
// and any other by its X keysym (0 when the key has none), and waitKey keeps only the low byte,
// so a key with no keysym, or one whose keysym ends in 00, reads as 0. Such a key ends the run
// as Escape does, the rule the program has always had.
bool endsTheRun(int key) {
    return key == 0 || key == kEscape;
}

void showPendingPictures(ShellState& shell, cv::Mat& camera, cv::Mat& output) {
    if (shell.cameraPicture.take(camera)) {
        shell.teaching.decorate(camera);
        cv::imshow(kMainWindow, camera);
    }
    if (shell.outputPicture.take(output)) {
        cv::imshow(kOutputWindow, output);
    }
}

bool mainWindowClosed() {
    // Destroyed by another X client, it still counts as visible to the toolkit, which was not
    // told; the run's watch was.
    return RunWatch::runsMainWindowDestroyed() ||
           cv::getWindowProperty(kMainWindow, cv::WND_PROP_VISIBLE) < 1.0;
}

}  // namespace

void runWindowLoop(ShellState& shell, const Capture& capture) {
    Tracker& tracker = *shell.tracker;
    cv::Mat cameraShown;
    cv::Mat outputShown;
    for (;;) {
        // One turn per frame: sleep until the capture thread has posted the frame's pictures
        // (at most kLongestSleep, so that the windows stay responsive when frames stop), show
        // them, then let the toolkit paint them and dispatch what the window system queued
        // meanwhile (keys, trackbar moves, the window closing). The toolkit's own timed wait
        // would look for events every millisecond instead, which alone costs a few percent of
        // a core.
        shell.picturesReady.waitFor(kLongestSleep);
        // Checked right before anything is shown: showing a picture in the window the user has
        // closed would open it again. The toolkit handles a close in whichever of its calls
        // dispatches queued events, not only in waitKey: creating a window at start-up does
        // too, so a close that comes while the windows are being made is seen here first.
        if (mainWindowClosed()) {
            return;
        }
        showPendingPictures(shell, cameraShown, outputShown);
        const int key = cv::waitKey(1);
        if (endsTheRun(key)) {
            return;
        }
        if (key == 'B' || key == 'b') {
            tracker.maskView = !tracker.maskView.load();
        }
        adoptTaughtReference(shell);
        if (shell.keepSettings) {
            shell.keepSettings(false);
        }
        if (!shell.frameOk || stopSignal() != 0 || capture.lost()) {
            return;
        }
    }
}

}  // namespace camsteer
