#include "app/session/signals.hpp"

#include <signal.h>

#include "platform/keys/key_watchdog.hpp"

namespace camsteer {

namespace {

// The signal that asked the run to end, 0 while none did. The handler only records it; the
// window loop sees it within one turn and the normal shutdown releases the keys. The handler is
// reset as it runs, so a second such signal ends the process at once.
volatile sig_atomic_t gStopSignal = 0;

void onEndSignal(int signo) {
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
        handleUnlessIgnored(signo, onEndSignal, SA_RESETHAND);
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

}  // namespace camsteer
