#include "app/key_loop.hpp"

#include <opencv2/highgui.hpp>

#include "app/first_run.hpp"
#include "app/key_release_guard.hpp"
#include "app/run_watch.hpp"

namespace camsteer {

namespace {

constexpr int kEscape = 27;

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

void runKeyLoop(ShellState& shell, const Capture& capture) {
    Tracker& tracker = *shell.tracker;
    cv::Mat cameraShown;
    cv::Mat outputShown;
    for (;;) {
        // The toolkit's timed wait looks for events every millisecond, which alone costs a few
        // percent of a core. So the wait for a key is split: a 1 ms wait dispatches what the
        // window system has queued (keys, trackbar moves, repaints), then the loop sleeps until
        // the next frame's pictures or the rest of the 10 ms, whichever comes first. A key
        // pressed meanwhile stays queued for the next turn.
        const int key = cv::waitKey(1);
        if (endsTheRun(key)) {
            return;
        }
        // Checked before anything is shown: showing a picture in the window the user has just
        // closed would open it again.
        if (mainWindowClosed()) {
            return;
        }
        if (key == 'B' || key == 'b') {
            tracker.maskView = !tracker.maskView.load();
        }
        showPendingPictures(shell, cameraShown, outputShown);
        adoptTaughtReference(shell);
        if (!shell.frameOk || stopSignal() != 0 || capture.lost()) {
            return;
        }
        shell.picturesReady.waitFor(std::chrono::milliseconds(9));
    }
}

}  // namespace camsteer
