#include "app/answers.hpp"

#include <cstdio>

#include "platform/camera/camera_list.hpp"

#ifndef CAMSTEER_VERSION
#define CAMSTEER_VERSION "unknown"
#endif

namespace camsteer {

namespace {

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

}  // namespace

int answerWithoutRunning(const CommandLine& line, const ShellOptions& options) {
    const std::string program = options.programName;
    switch (line.action) {
        case CommandLine::Action::Run:
            return -1;
        case CommandLine::Action::Help:
            std::fputs(usageText(program, options.readsClip).c_str(), stdout);
            return 0;
        case CommandLine::Action::Version:
            std::printf("%s %s\n", options.programName, CAMSTEER_VERSION);
            return 0;
        case CommandLine::Action::ListCameras:
            return listCameras(options);
        case CommandLine::Action::Usage:
            // The usage in the one line a diagnostic has.
            diagnose(options, line.usageError +
                                  "; usage: " + usageSynopsis(program, options.readsClip, true) +
                                  "; see " + program + " --help");
            return 2;
    }
    return -1;
}

}  // namespace camsteer
