#include "app/session/key_release_guard.hpp"

#include <signal.h>

#include <cstdlib>
#include <mutex>

#include "platform/keys/key_watchdog.hpp"

namespace camsteer {

namespace {

// The signal that asked the run to end, 0 while none did. The handler only records it; the key
// loop sees it within one turn and the normal shutdown releases the keys. The handler is reset
// as it runs, so a second such signal ends the process at once.
volatile sig_atomic_t gStopSignal = 0;

void onStopSignal(int signo) {
    gStopSignal = signo;
}

// A signal whose default is to end the process (with a core dump for a crash). The keys must
// not outlive it, but a handler may do only async-signal-safe work: a 0 byte tells the key
// watchdog to release XTest keys at once; keys of the other backends go with the process. Then
// the signal, back at its default (SA_RESETHAND), is raised again: pending until this handler
// returns, it ends the process as it would have without the handler. A crash's faulting
// instruction, run again on return, would raise it anyway.
void onFatalSignal(int signo) {
    tellKeyWatchdogToRelease();
    ::raise(signo);
}

// What must still happen if something ends the process from under the key loop (the window
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

void handleUnlessIgnored(int signo, void (*handler)(int), int flags) {
    struct sigaction current {};
    if (::sigaction(signo, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    ::sigaction(signo, &action, nullptr);
}

void installSignalHandlers() {
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        handleUnlessIgnored(signo, onStopSignal, SA_RESETHAND);
    }
    for (int signo :
         {SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGUSR1, SIGUSR2, SIGALRM}) {
        handleUnlessIgnored(signo, onFatalSignal, SA_RESETHAND);
    }
    // A display connection that breaks then reports an error the toolkit handles, instead of
    // ending the process before the keys are released.
    signal(SIGPIPE, SIG_IGN);
}

int stopSignal() {
    return gStopSignal;
}

CaptureRun::CaptureRun(Capture& capture, HeldKeys* keys) {
    std::call_once(gExitHookOnce, [] { std::atexit(releaseOnExit); });
    gRunning = RunningCapture{&capture, keys};
}

void CaptureRun::finish() {
    releaseOnExit();
}

}  // namespace camsteer
