#include <cstdio>
#include <cstdlib>
#include <exception>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/highgui.hpp>

#include "app/answers.hpp"
#include "app/frame_source_choice.hpp"
#include "app/kept_settings.hpp"
#include "app/on_frame.hpp"
#include "app/session/display_probe.hpp"
#include "app/session/exit_hook.hpp"
#include "app/session/instance_lock.hpp"
#include "app/session/run_watch.hpp"
#include "app/session/signals.hpp"
#include "app/session/toolkit_platform.hpp"
#include "app/shell.hpp"
#include "app/starting_reference.hpp"
#include "app/startup.hpp"
#include "app/teaching_setup.hpp"
#include "app/ui/arrow_set.hpp"
#include "app/ui/failure_notice.hpp"
#include "app/window_loop.hpp"
#include "platform/keys/held_keys.hpp"
#include "platform/keys/key_watchdog.hpp"
#include "platform/process/environment.hpp"
#include "platform/process/program_name.hpp"
#include "platform/process/quoted_name.hpp"

namespace camsteer {

namespace {

// Quietens the libraries and fixes the process-wide settings before anything else runs.
void prepareProcess(const ShellOptions& options) {
    setProgramName(options.programName);
    // The window toolkit's own lines (Qt) start with our name too, as every line we write does.
    const std::string qtPattern =
        std::string(options.programName) + ": %{if-category}%{category}: %{endif}%{message}";
    setEnvironmentDefault("QT_MESSAGE_PATTERN", qtPattern.c_str());
    if (std::getenv("OPENCV_LOG_LEVEL") == nullptr) {
        // The library's own warnings (a file it cannot decode, a camera property it cannot set)
        // would only repeat what our one-line messages already say.
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    }
    // Likewise the video decoder's complaints about a clip it cannot read: our one line says it.
    // Read when the decoder is first used, so setting it here is in time.
    setEnvironmentDefault("OPENCV_FFMPEG_LOGLEVEL", "-8");
    // A single-threaded pipeline leaves the other cores to the game being steered. The library's
    // own workers would not even make a 320 x 240 pass faster, only dearer in CPU time
    // (docs/performance.md; the bench's ProcessFrameLibraryThreads keeps the figure current).
    cv::setNumThreads(1);
    installSignalHandlers();
}

// What the line naming the key output adds for keys bound to others than the arrows and keypad
// plus and minus.
std::string boundKeysNote(const KeyBindings& bindings) {
    const std::string changes = bindings.changes();
    return changes.empty() ? "" : "; keys bound: " + changes;
}

// The held keys over the key backend, when this program sends keys, and the line naming the
// backend; none (after saying why) when no backend opens, and the run goes on without keys. A
// backend whose keys would outlive the process gets its watchdog, which the held keys keep told
// of what is down.
std::unique_ptr<HeldKeys> openKeys(Tracker& tracker, const ShellOptions& options,
                                   const DesktopSession& session, const KeyBindings& bindings,
                                   std::unique_ptr<KeyWatchdog>& watchdog, std::string& inUse) {
    if (!options.sendKeys) {
        return nullptr;
    }
    KeyboardChoice choice = openKeyboard(session, bindings);
    if (!choice.keyboard) {
        for (const std::string& failure : choice.failures) {
            diagnose(options, failure);
        }
        diagnose(options, "no key output: tracking and windows run, but no key is sent");
    }
    std::unique_ptr<HeldKeys> keys;
    if (choice.keyboard) {
        const std::string backend = choice.keyboard->watchdogBackend();
        keys = std::make_unique<HeldKeys>(std::move(choice.keyboard));
        inUse = choice.inUse + boundKeysNote(bindings);
        if (!backend.empty()) {
            std::string why;
            watchdog = KeyWatchdog::start(backend, bindings, why);
            if (watchdog) {
                keys->mirrorTo(watchdog->fd());
            } else {
                diagnose(options, why + "; should this program be killed, keys it holds stay down");
            }
        }
    }
    tracker.setKeySink(keys.get());
    tracker.sendKeysEnabled = keys != nullptr;
    return keys;
}

// The three windows with their first pictures, the settings panel, and the windows' places.
void openWindows(ShellState& shell) {
    const int windowFlags = cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL;
    cv::namedWindow(kMainWindow, windowFlags);
    cv::namedWindow(kOutputWindow, windowFlags);
    cv::imshow(kOutputWindow, shell.arrowSet[shell.currentArrow]);
    cv::namedWindow(kHistogramWindow, windowFlags);
    cv::imshow(kHistogramWindow, shell.tracker->histogramPicture());
    shell.showHistogram = [](const cv::Mat& picture) { cv::imshow(kHistogramWindow, picture); };

    createSettingsPanel(shell);

    cv::moveWindow(kMainWindow, 50, 50);
    cv::moveWindow(kOutputWindow, shell.captureWidth + 65, 50);
    cv::moveWindow(kHistogramWindow, shell.captureWidth + 65, 320);
}

// The frame source (the camera asked for, or the clip for the replay program) and where frames
// go.
void configureCapture(ShellState& shell, const CommandLine& line, Capture& capture) {
    capture.setSource(frameSourceFor(line, shell));
    capture.setRenderingSize(shell.captureWidth, shell.captureHeight);
    capture.setCallback([&shell](cv::Mat& frame) { onFrame(shell, frame); });
    capture.setRender([&shell](cv::Mat& upright) {
        shell.cameraPicture.handOver(upright);
        shell.picturesReady.notify();
    });
}

// After the window loop: says why the run ended when that was a fault, releases the keys, closes
// the windows and frees the pictures. Returns the exit status.
int shutDown(ShellState& shell, const ShellOptions& options, const CommandLine& line,
             const Capture& capture, CaptureRun& running) {
    if (!shell.frameOk) {
        std::printf("Error processing video frame\n");
        std::fflush(stdout);
    }
    if (shell.keepSettings) {
        shell.keepSettings(true);
    }
    running.finish();

    int status = 0;
    if (capture.lost()) {
        reportRunFailure(line, options,
                         "lost " + capture.describe() +
                             ": no frame for over a second; check its connection and start "
                             "again");
        status = 1;
    } else if (stopSignal() != 0) {
        status = 128 + stopSignal();
    }

    cv::destroyAllWindows();
    shell.tracker.reset();
    shell.referenceImage.release();
    for (cv::Mat& arrow : shell.arrowSet) {
        arrow.release();
    }
    return status;
}

// The start-up steps in order, the window loop, then shutdown.
int run(ShellState& shell, const ShellOptions& options, int argc, char** argv) {
    shell.captureWidth = 320;
    shell.captureHeight = 240;

    // What the desktop session offers, read once: everything after is handed this value.
    const DesktopSession session = readDesktopSession();
    const CommandLine line =
        parseCommandLine(argc, argv, options.readsClip, defaultLearnPath(session));
    if (const int status = answerWithoutRunning(line, options); status >= 0) {
        return status;
    }

    // The arrows are loaded first; a missing one is reported once the arguments are known good.
    const std::string imagesDir = findImagesDir();
    std::string missingArrow;
    loadArrowSet(imagesDir.empty() ? "images" : imagesDir, shell.arrowSet, missingArrow);
    shell.currentArrow = kDefaultArrow;

    if (!loadStartingReference(shell, line, options)) {
        return 1;
    }
    if (!missingArrow.empty()) {
        diagnose(options, "cannot load the arrow picture " + quotedName(missingArrow) +
                              "; run from the folder that holds images/, or reinstall camsteer");
        return 1;
    }
    std::string why;
    if (!prepareToolkitPlatform(session, why)) {
        diagnose(options, why);
        return 1;
    }

    // Two instances sending keys to one display would press and release against each other.
    InstanceLock oneInstance;
    if (options.sendKeys && !oneInstance.take(options.programName, session, why)) {
        diagnose(options, why);
        return 1;
    }

    shell.tracker =
        std::make_unique<Tracker>(shell.referenceImage, shell.captureWidth, shell.captureHeight);
    std::unique_ptr<KeyWatchdog> watchdog;
    std::string keysInUse;
    const StartingSettings settings = startingSettings(*shell.tracker, line, options);
    const std::unique_ptr<HeldKeys> keys =
        openKeys(*shell.tracker, options, session, settings.run.keys, watchdog, keysInUse);
    openWindows(shell);
    useStartingSettings(shell, line, options, settings);
    releaseDisplayProbe();  // the toolkit and the key output hold their own connections now
    installTeaching(shell, line, options);

    Capture capture;
    configureCapture(shell, line, capture);
    if (!capture.init(why)) {
        reportRunFailure(line, options, why);
        return 1;
    }
    if (keys) {
        diagnose(options, keysInUse);
    }
    CaptureRun running(capture, keys.get());
    // Watching before the first frame can press a key: Ctrl-Z then always finds it.
    RunWatch watch(capture, keys.get(), kMainWindow, session, watchdog.get());
    capture.start();

    runWindowLoop(shell, capture);
    return shutDown(shell, options, line, capture, running);
}

}  // namespace

int runShell(const ShellOptions& options, int argc, char** argv) {
    prepareProcess(options);
    ShellState shell;
    try {
        return run(shell, options, argc, argv);
    } catch (const std::exception& e) {
        diagnose(options, std::string("stopped by an unexpected error: ") + e.what());
        return 1;
    }
}

}  // namespace camsteer
