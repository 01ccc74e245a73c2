#pragma once

#include "app/shell.hpp"
#include "platform/camera/capture.hpp"

namespace camsteer {

// The main thread's loop while capture runs: dispatches window events (keys, trackbar moves,
// repaints), shows the pictures the capture thread posted and flips the mask view on B. Returns
// on Escape (or a wait result of 0), when the main window is closed, after a failed frame, on a
// stop signal or when the camera is lost; the caller tells these apart for the exit status.
void runWindowLoop(ShellState& shell, const Capture& capture);

}  // namespace camsteer
