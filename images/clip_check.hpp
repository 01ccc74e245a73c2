#pragma once

#include <string>
#include <vector>

namespace camsteer::images {

// The frames of an MJPG AVI clip whose JPEG does not decode cleanly (a warning or an error from
// the JPEG decoder), by index from 0; `frames` gets the number of frames found. OpenCV's own
// MJPG writer drops the last four bytes of a frame whose coded picture ends exactly on a 32-bit
// boundary, which readers then report as corrupt data. An unreadable file gives {-1}.
std::vector<int> damagedFrames(const std::string& path, int* frames = nullptr);

}  // namespace camsteer::images
