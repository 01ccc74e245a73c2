#pragma once

namespace camsteer {

// How signals reach the run (signals_linux.cpp on Linux).

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

// The signal that asked the run to end, 0 while none did. The window loop looks at it every turn.
int stopSignal();

}  // namespace camsteer
