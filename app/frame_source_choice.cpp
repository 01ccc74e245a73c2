#include "app/frame_source_choice.hpp"

namespace camsteer {

std::unique_ptr<FrameSource> frameSourceFor(const CommandLine& line, const ShellState& shell) {
    if (!line.clip.empty()) {
        return makeVideoFileSource(line.clip);
    }
    if (!line.cameraPath.empty()) {
        return makeCameraSource(line.cameraPath, shell.captureWidth, shell.captureHeight);
    }
    return makeCameraSource(line.cameraNumber, shell.captureWidth, shell.captureHeight);
}

}  // namespace camsteer
