#include "app/shell.hpp"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

#include "app/display_check.hpp"
#include "app/reference_picture.hpp"
#include "platform/keyboard.hpp"

#ifndef CAMSTEER_DATADIR
#define CAMSTEER_DATADIR "/usr/share/camsteer"
#endif

namespace camsteer {

namespace {

const char* const kMainWindow = "Camsteer";
const char* const kOutputWindow = "Output";
const char* const kHistogramWindow = "Histogram";

// The signal that asked the run to end, 0 while none did. The handler only records it; the key
// loop sees it within one turn and the normal shutdown releases the keys.
volatile sig_atomic_t gStopSignal = 0;

void onStopSignal(int signo) {
    gStopSignal = signo;
}

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signo, &action, nullptr);
    }
    // A display connection that breaks then reports an error the toolkit handles, instead of
    // ending the process before the keys are released.
    signal(SIGPIPE, SIG_IGN);
}

// What must still happen if something ends the process from under the key loop (the window
// toolkit calls exit() when its display connection breaks): stop capture, release the keys.
struct RunningCapture {
    Capture* capture = nullptr;
    Keyboard* keyboard = nullptr;
};
RunningCapture gRunning;
std::once_flag gExitHookOnce;

void releaseOnExit() {
    if (gRunning.capture != nullptr) {
        gRunning.capture->stop();
    }
    if (gRunning.keyboard != nullptr) {
        gRunning.keyboard->releaseAll();
    }
    gRunning = RunningCapture{};
}

// From capture start to the end of the run, on every way out (return or exception): capture
// stops first, so no frame can press a key again, then the six keys are released.
class CaptureRun {
  public:
    CaptureRun(Capture& capture, Keyboard* keyboard) {
        std::call_once(gExitHookOnce, [] { std::atexit(releaseOnExit); });
        gRunning = RunningCapture{&capture, keyboard};
    }
    ~CaptureRun() { finish(); }
    void finish() { releaseOnExit(); }
};

bool fileExists(const std::string& path) {
    return ::access(path.c_str(), R_OK) == 0;
}

std::string executableDir() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) {
        return std::string();
    }
    std::string path(buffer, static_cast<size_t>(n));
    return path.substr(0, path.find_last_of('/'));
}

void diagnose(const ShellOptions& options, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", options.programName, what.c_str());
}

struct TrackbarContext {
    ShellState* shell;
    Trackbar which;
};
std::array<TrackbarContext, 6> gTrackbarContexts;

void onTrackbar(int position, void* userdata) {
    const auto* context = static_cast<TrackbarContext*>(userdata);
    applyTrackbar(*context->shell, context->which, position);
}

void showPendingPictures(ShellState& shell, cv::Mat& camera, cv::Mat& output) {
    if (shell.cameraPicture.take(camera)) {
        cv::imshow(kMainWindow, camera);
    }
    if (shell.outputPicture.take(output)) {
        cv::imshow(kOutputWindow, output);
    }
}

bool mainWindowClosed() {
    return cv::getWindowProperty(kMainWindow, cv::WND_PROP_VISIBLE) < 1.0;
}

int run(ShellState& shell, const ShellOptions& options, int argc, char** argv) {
    shell.captureWidth = 320;
    shell.captureHeight = 240;

    const std::string imagesDir = findImagesDir();
    std::string missingArrow;
    for (int i = 0; i < kArrowCount; ++i) {
        const std::string path = (imagesDir.empty() ? "images" : imagesDir) + "/" + kArrowFiles[i];
        shell.arrowSet[i] = cv::imread(path, cv::IMREAD_COLOR);
        if (shell.arrowSet[i].empty() && missingArrow.empty()) {
            missingArrow = path;
        }
    }
    shell.currentArrow = kDefaultArrow;

    if (argc < 2) {
        std::printf("No histogram source image specified.\n");
        return 1;
    }
    std::string refusal;
    shell.referenceImage = loadReferencePicture(argv[1], refusal);
    if (shell.referenceImage.empty()) {
        std::printf("Couldn't load histogram: %s\n", argv[1]);
        if (!refusal.empty()) {
            diagnose(options, std::string(argv[1]) + ": " + refusal);
        }
        return 1;
    }
    if (options.clipArgument > 0 && argc <= options.clipArgument) {
        diagnose(options,
                 "no clip given; usage: " + std::string(options.programName) + " REFERENCE CLIP");
        return 1;
    }
    if (!missingArrow.empty()) {
        diagnose(options, "cannot load the arrow picture " + missingArrow +
                              "; run from the folder that holds images/, or reinstall camsteer");
        return 1;
    }
    std::string why;
    if (!windowSystemReachable(why)) {
        diagnose(options, why);
        return 1;
    }

    shell.tracker =
        std::make_unique<Tracker>(shell.referenceImage, shell.captureWidth, shell.captureHeight);
    Tracker& tracker = *shell.tracker;

    std::unique_ptr<Keyboard> keyboard;
    if (options.sendKeys) {
        KeyboardChoice choice = openKeyboard();
        keyboard = std::move(choice.keyboard);
        if (!keyboard) {
            for (const std::string& failure : choice.failures) {
                diagnose(options, failure);
            }
            diagnose(options, "no key output: tracking and windows run, but no key is sent");
        }
        tracker.setKeyboard(keyboard.get());
        tracker.sendKeysEnabled = true;
    }

    const int windowFlags = cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL;
    cv::namedWindow(kMainWindow, windowFlags);
    cv::namedWindow(kOutputWindow, windowFlags);
    cv::imshow(kOutputWindow, shell.arrowSet[shell.currentArrow]);
    cv::namedWindow(kHistogramWindow, windowFlags);
    cv::imshow(kHistogramWindow, tracker.histogramPicture());
    shell.showHistogram = [](const cv::Mat& picture) { cv::imshow(kHistogramWindow, picture); };

    createSettingsPanel(shell);

    cv::moveWindow(kMainWindow, 50, 50);
    cv::moveWindow(kOutputWindow, shell.captureWidth + 65, 50);
    cv::moveWindow(kHistogramWindow, shell.captureWidth + 65, 320);

    Capture capture;
    if (options.clipArgument > 0) {
        capture.setSource(makeVideoFileSource(argv[options.clipArgument]));
    } else {
        countCameras();
        capture.setSource(makeCameraSource(1, shell.captureWidth, shell.captureHeight));
    }
    capture.setRenderingSize(shell.captureWidth, shell.captureHeight);
    capture.setCallback([&shell](cv::Mat& frame) { onFrame(shell, frame); });
    capture.setRender([&shell](const cv::Mat& upright) {
        shell.cameraPicture.post(upright);
        shell.picturesReady.notify();
    });
    if (!capture.init(why)) {
        diagnose(options, why);
        return 1;
    }
    CaptureRun running(capture, keyboard.get());
    capture.start();

    cv::Mat cameraShown;
    cv::Mat outputShown;
    for (;;) {
        // The toolkit's timed wait looks for events every millisecond, which alone costs a few
        // percent of a core. So the wait for a key is split: a 1 ms wait dispatches what the
        // window system has queued (keys, trackbar moves, repaints), then the loop sleeps until
        // the next frame's pictures or the rest of the 10 ms, whichever comes first. A key
        // pressed meanwhile stays queued for the next turn.
        const int key = cv::waitKey(1);
        if (key == 0 || key == 27) {
            break;
        }
        // Checked before anything is shown: showing a picture in the window the user has just
        // closed would open it again.
        if (mainWindowClosed()) {
            break;
        }
        if (key == 'B' || key == 'b') {
            tracker.maskView = !tracker.maskView.load();
        }
        showPendingPictures(shell, cameraShown, outputShown);
        if (!shell.frameOk || gStopSignal != 0 || capture.lost()) {
            break;
        }
        shell.picturesReady.waitFor(std::chrono::milliseconds(9));
    }

    if (!shell.frameOk) {
        std::printf("Error processing video frame\n");
        std::fflush(stdout);
    }
    running.finish();

    int status = 0;
    if (capture.lost()) {
        diagnose(options, "lost " + capture.describe() +
                              ": no frame for over a second; check its connection and start "
                              "again");
        status = 1;
    } else if (gStopSignal != 0) {
        status = 128 + gStopSignal;
    }

    cv::destroyAllWindows();
    shell.tracker.reset();
    shell.referenceImage.release();
    for (cv::Mat& arrow : shell.arrowSet) {
        arrow.release();
    }
    return status;
}

}  // namespace

const std::array<TrackbarInfo, 6> kTrackbars = {{
    {Trackbar::Vmin, "Vmin", 256},
    {Trackbar::Smin, "Smin", 256},
    {Trackbar::Vmax, "Vmax", 256},
    {Trackbar::TrackMin, "TrackMin", 100},
    {Trackbar::Near, "Near", 100},
    {Trackbar::Far, "Far", 100},
}};

void initTrackbarPositions(ShellState& shell) {
    const Tracker& t = *shell.tracker;
    shell.vminPos = t.vmin.load();
    shell.sminPos = t.smin.load();
    shell.vmaxPos = t.vmax.load();
    shell.trackMinPos = static_cast<int>(t.trackMinFraction.load() * 100);
    shell.nearPos = static_cast<int>(t.nearFraction.load() * 100);
    shell.farPos = static_cast<int>(t.farFraction.load() * 100);
}

int trackbarPosition(const ShellState& shell, Trackbar which) {
    switch (which) {
        case Trackbar::Vmin:
            return shell.vminPos;
        case Trackbar::Smin:
            return shell.sminPos;
        case Trackbar::Vmax:
            return shell.vmaxPos;
        case Trackbar::TrackMin:
            return shell.trackMinPos;
        case Trackbar::Near:
            return shell.nearPos;
        case Trackbar::Far:
            return shell.farPos;
    }
    return 0;
}

void applyTrackbar(ShellState& shell, Trackbar which, int position) {
    Tracker& t = *shell.tracker;
    std::atomic<int>* band = nullptr;
    switch (which) {
        case Trackbar::Vmin:
            shell.vminPos = position;
            band = &t.vmin;
            break;
        case Trackbar::Smin:
            shell.sminPos = position;
            band = &t.smin;
            break;
        case Trackbar::Vmax:
            shell.vmaxPos = position;
            band = &t.vmax;
            break;
        case Trackbar::TrackMin:
            shell.trackMinPos = position;
            t.trackMinFraction = position / 100.0;
            return;
        case Trackbar::Near:
            shell.nearPos = position;
            t.nearFraction = position / 100.0;
            return;
        case Trackbar::Far:
            shell.farPos = position;
            t.farFraction = position / 100.0;
            return;
    }
    if (band->exchange(position) == position) {
        return;  // the toolkit reports the initial position too: nothing to rebuild
    }
    t.buildHueModel(shell.referenceImage);
    if (shell.showHistogram) {
        shell.showHistogram(t.histogramPicture());
    }
}

void createSettingsPanel(ShellState& shell) {
    initTrackbarPositions(shell);
    for (size_t i = 0; i < kTrackbars.size(); ++i) {
        const TrackbarInfo& info = kTrackbars[i];
        gTrackbarContexts[i] = TrackbarContext{&shell, info.which};
        const int initial = trackbarPosition(shell, info.which);
        cv::createTrackbar(info.name, kMainWindow, nullptr, info.maximum, onTrackbar,
                           &gTrackbarContexts[i]);
        cv::setTrackbarPos(info.name, kMainWindow, initial);
    }
}

void showDirection(ShellState& shell) {
    const Tracker& tracker = *shell.tracker;
    const int index = chooseArrow(tracker.directions());
    shell.currentArrow = index;
    shell.arrowSet[index].copyTo(shell.directionPicture);
    drawDirection(shell.directionPicture, tracker.centre(), tracker.coverage(), shell.nearPos,
                  shell.farPos, cv::Size(shell.captureWidth, shell.captureHeight));
    shell.outputPicture.post(shell.directionPicture);
}

void onFrame(ShellState& shell, cv::Mat& frame) {
    try {
        shell.frameOk = shell.tracker->processFrame(frame);
    } catch (const cv::Exception& e) {
        // An image operation that throws would otherwise end the process from the capture
        // thread with no key released; treat it as a failed frame instead.
        std::fprintf(stderr, "camsteer: frame failed in the image library: %s\n", e.what());
        shell.frameOk = false;
    }
    showDirection(shell);
}

std::string findImagesDir() {
    const std::string candidates[] = {
        "images",
        executableDir() + "/../share/camsteer/images",
        std::string(CAMSTEER_DATADIR) + "/images",
    };
    for (const std::string& dir : candidates) {
        if (fileExists(dir + "/" + kArrowFiles[kDefaultArrow])) {
            return dir;
        }
    }
    return std::string();
}

int runShell(const ShellOptions& options, int argc, char** argv) {
    if (std::getenv("OPENCV_LOG_LEVEL") == nullptr) {
        // The library's own warnings (a file it cannot decode, a camera property it cannot set)
        // would only repeat what our one-line messages already say.
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    }
    // Likewise the video decoder's complaints about a clip it cannot read: our one line says it.
    // Read when the decoder is first used, so setting it here is in time.
    setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0);
    // A single-threaded pipeline leaves the other cores to the game being steered. The library's
    // own workers would not even make a 320 x 240 pass faster, only dearer in CPU time
    // (docs/performance.md; the bench's ProcessFrameLibraryThreads keeps the figure current).
    cv::setNumThreads(1);
    installSignalHandlers();

    ShellState shell;
    try {
        return run(shell, options, argc, argv);
    } catch (const std::exception& e) {
        diagnose(options, std::string("stopped by an unexpected error: ") + e.what());
        return 1;
    }
}

}  // namespace camsteer
