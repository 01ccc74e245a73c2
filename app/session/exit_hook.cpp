#include "app/session/exit_hook.hpp"

#include <cstdlib>
#include <mutex>

namespace camsteer {

namespace {

// What must still happen if something ends the process from under the window loop (the window
// toolkit calls exit() when its display connection breaks): stop capture, release the keys.
struct RunningCapture {
    Capture* capture = nullptr;
    HeldKeys* keys = nullptr;
};
RunningCapture gRunning;
std::once_flag gExitHookOnce;

void releaseOnExit() {
    if (gRunning.capture != nullptr) {
        gRunning.capture->stop();
    }
    if (gRunning.keys != nullptr) {
        gRunning.keys->releaseAll();
    }
    gRunning = RunningCapture{};
}

}  // namespace

CaptureRun::CaptureRun(Capture& capture, HeldKeys* keys) {
    std::call_once(gExitHookOnce, [] { std::atexit(releaseOnExit); });
    gRunning = RunningCapture{&capture, keys};
}

void CaptureRun::finish() {
    releaseOnExit();
}

}  // namespace camsteer
