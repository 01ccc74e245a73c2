#pragma once

#include <pthread.h>
#include <signal.h>

#include <ctime>

namespace camsteer {

// Blocks SIGPIPE for the calling thread while it writes to a socket or pipe whose reader may
// be gone. A reader that goes away between a check and the write makes the write raise
// SIGPIPE, whose default action would end the process before the failed write can be
// handled. A SIGPIPE raised meanwhile is consumed; the signal disposition of the process is
// left alone.
class SigpipeBlock {
  public:
    SigpipeBlock() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
        sigset_t pending;
        sigpending(&pending);
        pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeBlock() {
        if (!pendingBefore_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec noWait{0, 0};
                sigtimedwait(&pipeOnly_, nullptr, &noWait);
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

  private:
    sigset_t pipeOnly_;
    sigset_t previous_;
    bool pendingBefore_ = false;
};

}  // namespace camsteer
