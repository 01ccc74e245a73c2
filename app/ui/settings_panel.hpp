#pragma once

#include <array>
#include <atomic>

#include "tracker/tracker.hpp"

namespace camsteer {

struct ShellState;

// The trackbar positions, one per trackbar, which the trackbars read and write. Near and Far
// are also read by the direction display on the capture thread, hence atomics.
struct TrackbarPositions {
    std::atomic<int> vminPos{0};
    std::atomic<int> sminPos{0};
    std::atomic<int> vmaxPos{0};
    std::atomic<int> trackMinPos{0};
    std::atomic<int> nearPos{0};
    std::atomic<int> farPos{0};
};

// The six trackbars, in the order they appear under "Camsteer".
enum class Trackbar { Vmin, Smin, Vmax, TrackMin, Near, Far };
constexpr size_t kTrackbarCount = 6;

// One trackbar: everything the panel needs to create it, set it up and handle its moves.
struct TrackbarRow {
    Trackbar which;
    const char* name;
    int maximum;
    // Where its position is kept.
    std::atomic<int> TrackbarPositions::*position;
    // The position a setting stands for (the initial position).
    int (*fromSetting)(const Tracker& tracker);
    // Stores the setting a position stands for.
    void (*toSetting)(Tracker& tracker, int position);
    // Whether a new setting takes effect by rebuilding the hue model (the colour band); the
    // others are read by the next frame.
    bool rebuildsModel;
};

// The table, in enum order.
extern const std::array<TrackbarRow, kTrackbarCount> kTrackbars;

const TrackbarRow& trackbarRow(Trackbar which);

// Sets every position from the tracker's current settings (fractions x 100, truncated).
void initTrackbarPositions(ShellState& shell);
int trackbarPosition(const ShellState& shell, Trackbar which);
// What moving a trackbar does: store the position and the setting it stands for; the colour
// band ones rebuild the hue model and show its new picture. A position equal to the current
// setting rebuilds nothing.
void applyTrackbar(ShellState& shell, Trackbar which, int position);
// Sets the positions and creates the six trackbars on "Camsteer" (main thread, window system
// present).
void createSettingsPanel(ShellState& shell);

}  // namespace camsteer
