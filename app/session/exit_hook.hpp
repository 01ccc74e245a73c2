#pragma once

#include "platform/camera/capture.hpp"
#include "platform/keys/held_keys.hpp"

namespace camsteer {

// From capture start to the end of the run, on every way out (return, exception, or exit()
// called from under the window loop): capture stops first, so no frame can press a key again,
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
