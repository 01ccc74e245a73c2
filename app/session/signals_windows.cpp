#include <windows.h>

#include <csignal>

#include "app/session/signals.hpp"
#include "platform/keys/key_watchdog.hpp"

namespace camsteer {

namespace {

// The console event that asked the run to end, as the signal it stands for (Ctrl-C SIGINT,
// Ctrl-Break SIGBREAK, the console closed, the user logging off or the system shutting down
// SIGTERM), 0 while none did. The window loop sees it within one turn and the normal shutdown
// releases the keys.
volatile LONG gStopSignal = 0;

// Windows runs this on a thread of its own. A second Ctrl-C or Ctrl-Break ends the process at
// once, after telling the key watchdog. For the other events Windows ends the process as soon
// as this returns, so it waits for the shutdown to end the process first, within the few
// seconds Windows allows.
BOOL WINAPI onConsoleEvent(DWORD event) {
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    const LONG signo = event == CTRL_C_EVENT       ? SIGINT
                       : event == CTRL_BREAK_EVENT ? SIGBREAK
                                                   : SIGTERM;
    if (InterlockedCompareExchange(&gStopSignal, signo, 0) != 0 && interrupt) {
        tellKeyWatchdogToRelease();
        return FALSE;  // the default: the end of the process
    }
    if (!interrupt) {
        Sleep(4000);
        tellKeyWatchdogToRelease();
    }
    return TRUE;
}

// A crash: the watchdog releases the keys at once instead of when the process is gone (with
// a crash dialog up, that can be long). Windows then goes on as it would.
LONG WINAPI onCrash(EXCEPTION_POINTERS*) {
    tellKeyWatchdogToRelease();
    return EXCEPTION_CONTINUE_SEARCH;
}

void onAbort(int) {
    tellKeyWatchdogToRelease();
}

}  // namespace

void handleUnlessIgnored(int signo, void (*handler)(int), int) {
    if (std::signal(signo, handler) == SIG_IGN) {
        std::signal(signo, SIG_IGN);
    }
}

void installSignalHandlers() {
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    SetUnhandledExceptionFilter(onCrash);
    handleUnlessIgnored(SIGABRT, onAbort, 0);
}

int stopSignal() {
    return static_cast<int>(gStopSignal);
}

}  // namespace camsteer
