#include "app/key_release_guard.hpp"

#include <signal.h>

#include <cstdlib>
#include <mutex>

namespace camsteer {

namespace {

// The signal that asked the run to end, 0 while none did. The handler only records it; the key
// loop sees it within one turn and the normal shutdown releases the keys.
volatile sig_atomic_t gStopSignal = 0;

void onStopSignal(int signo) {
    gStopSignal = signo;
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

}  // namespace

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

int stopSignal() {
    return gStopSignal;
}

CaptureRun::CaptureRun(Capture& capture, Keyboard* keyboard) {
    std::call_once(gExitHookOnce, [] { std::atexit(releaseOnExit); });
    gRunning = RunningCapture{&capture, keyboard};
}

void CaptureRun::finish() {
    releaseOnExit();
}

}  // namespace camsteer
