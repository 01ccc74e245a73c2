#include "app/first_run.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include <opencv2/highgui.hpp>

#include "app/reference_picture.hpp"
#include "app/session/signals.hpp"
#include "app/ui/failure_notice.hpp"
#include "app/ui/teach.hpp"
#include "platform/process/quoted_name.hpp"

#ifndef CAMSTEER_VERSION
#define CAMSTEER_VERSION "unknown"
#endif

namespace camsteer {

namespace {

bool clipProgram(const ShellOptions& options) {
    return options.clipArgument > 0;
}

int listCameras(const ShellOptions& options) {
    const std::vector<CaptureDevice> devices = captureDevices();
    if (devices.empty()) {
        diagnose(options, std::string("no camera found: ") + kNoCameraAdvice);
        return 1;
    }
    for (size_t i = 0; i < devices.size(); ++i) {
        // Windows' cameras have no device node: number and name.
        const std::string node = devices[i].node.empty() ? "" : devices[i].node + " ";
        std::printf("%zu %s%s\n", i + 1, node.c_str(), devices[i].name.c_str());
    }
    return 0;
}

void onMouse(int event, int x, int y, int /*flags*/, void* userdata) {
    auto* shell = static_cast<ShellState*>(userdata);
    shell->teaching.onMouse(event, x, y, cv::Size(shell->captureWidth, shell->captureHeight));
}

}  // namespace

int answerWithoutRunning(const CommandLine& line, const ShellOptions& options) {
    const std::string program = options.programName;
    switch (line.action) {
        case CommandLine::Action::Run:
            return -1;
        case CommandLine::Action::Help:
            std::fputs(usageText(program, clipProgram(options)).c_str(), stdout);
            return 0;
        case CommandLine::Action::Version:
            std::printf("%s %s\n", options.programName, CAMSTEER_VERSION);
            return 0;
        case CommandLine::Action::ListCameras:
            return listCameras(options);
        case CommandLine::Action::Usage:
            // The usage in the one line a diagnostic has.
            diagnose(options, line.usageError +
                                  "; usage: " + usageSynopsis(program, clipProgram(options), true) +
                                  "; see " + program + " --help");
            return 2;
    }
    return -1;
}

bool loadStartingReference(ShellState& shell, const CommandLine& line,
                           const ShellOptions& options) {
    std::string path = line.reference;
    if (line.learn) {
        if (line.learnPath.empty()) {
            diagnose(options,
                     "--learn names no picture, and neither HOME nor XDG_DATA_HOME names a "
                     "folder to keep it in (an absolute path); set HOME, or give one: --learn "
                     "OUT.png");
            return false;
        }
        if (!cv::haveImageWriter(line.learnPath)) {
            diagnose(options, "cannot save pictures as " + quotedName(line.learnPath) +
                                  ": give --learn a name ending in .png");
            return false;
        }
        struct stat st {};
        if (::stat(line.learnPath.c_str(), &st) != 0 && errno == ENOENT) {
            path.clear();  // nothing taught yet: start without a colour model
        } else {
            path = line.learnPath;
        }
    } else if (path.empty()) {
        std::printf("No histogram source image specified.\n");
        return false;
    }
    if (!path.empty()) {
        std::string refusal;
        shell.referenceImage = loadReferencePicture(path, refusal);
        if (shell.referenceImage.empty()) {
            std::printf("Couldn't load histogram: %s\n", quotedName(path).c_str());
            if (!refusal.empty()) {
                diagnose(options, quotedName(path) + ": " + refusal);
            }
            return false;
        }
    }
    if (clipProgram(options) && line.clip.empty()) {
        diagnose(options, "no clip given; usage: " + std::string(options.programName) +
                              (line.learn ? " --learn [OUT.png] CLIP" : " REFERENCE CLIP"));
        return false;
    }
    if (line.learn && shell.referenceImage.empty()) {
        diagnose(options, "nothing learnt yet in " + quotedName(line.learnPath) +
                              ": drag a rectangle over your object in the Camsteer window");
    }
    return true;
}

std::unique_ptr<FrameSource> frameSourceFor(const CommandLine& line, const ShellState& shell) {
    if (!line.clip.empty()) {
        return makeVideoFileSource(line.clip);
    }
    if (!line.cameraPath.empty()) {
        return makeCameraSource(line.cameraPath, shell.captureWidth, shell.captureHeight);
    }
    return makeCameraSource(line.cameraNumber, shell.captureWidth, shell.captureHeight);
}

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

void reportRunFailure(const CommandLine& line, const ShellOptions& options,
                      const std::string& why) {
    diagnose(options, why);
    if (line.showFailures && cv::getWindowProperty(kMainWindow, cv::WND_PROP_VISIBLE) >= 1.0) {
        showFailureUntilDismissed(kMainWindow, failurePicture(options.programName, why, 320),
                                  [] { return stopSignal() != 0; });
    }
}

}  // namespace camsteer
