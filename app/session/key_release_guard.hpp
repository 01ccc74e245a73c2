#pragma once

#include "platform/camera/capture.hpp"
#include "platform/keys/held_keys.hpp"

namespace camsteer {

// Makes SIGINT, SIGTERM and SIGHUP end the run through its normal shutdown (so the keys are
// released; a second one ends the process at once), and a broken display connection an error
// instead of the end of the process. SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGUSR1, SIGUSR2 and SIGALRM still end the process as they would (a core dump for a crash),
// after telling the key watchdog. A signal ignored at start stays ignored (nohup).
void installSignalHandlers();

// Installs `handler` for `signo` with sigaction `flags` unless the signal was ignored when the
// program started: under nohup SIGHUP stays ignored, in a background job of a non-interactive
// shell SIGINT and SIGQUIT do.
void handleUnlessIgnored(int signo, void (*handler)(int), int flags);

// The signal that asked the run to end, 0 while none did. The key loop looks at it every turn.
int stopSignal();

// From capture start to the end of the run, on every way out (return, exception, or exit()
// called from under the key loop): capture stops first, so no frame can press a key again,
// then the keys that are down are released.
class CaptureRun {
  public:
    CaptureRun(Capture& capture, HeldKeys* keys);
    ~CaptureRun() { finish(); }
    CaptureRun(const CaptureRun&) = delete;
    CaptureRun& operator=(const CaptureRun&) = delete;
    // Stops capture and releases the keys now; later calls do nothing.
    void finish();
};

}  // namespace camsteer
