#include "app/ui/settings_panel.hpp"

#include <opencv2/highgui.hpp>

#include "app/shell.hpp"

namespace camsteer {

namespace {

// A fraction of the frame as a trackbar position: per cent, truncated toward zero.
int percent(double fraction) {
    return static_cast<int>(fraction * 100);
}

}  // namespace

constexpr std::array<TrackbarRow, kTrackbarCount> kTrackbars = {{
    {Trackbar::Vmin, "Vmin", 256, &TrackbarPositions::vminPos,
     [](const Tracker& t) { return t.vmin.load(); }, [](Tracker& t, int p) { t.vmin = p; }, true},
    {Trackbar::Smin, "Smin", 256, &TrackbarPositions::sminPos,
     [](const Tracker& t) { return t.smin.load(); }, [](Tracker& t, int p) { t.smin = p; }, true},
    {Trackbar::Vmax, "Vmax", 256, &TrackbarPositions::vmaxPos,
     [](const Tracker& t) { return t.vmax.load(); }, [](Tracker& t, int p) { t.vmax = p; }, true},
    {Trackbar::TrackMin, "TrackMin", 100, &TrackbarPositions::trackMinPos,
     [](const Tracker& t) { return percent(t.trackMinFraction); },
     [](Tracker& t, int p) { t.trackMinFraction = p / 100.0; }, false},
    {Trackbar::Near, "Near", 100, &TrackbarPositions::nearPos,
     [](const Tracker& t) { return percent(t.nearFraction); },
     [](Tracker& t, int p) { t.nearFraction = p / 100.0; }, false},
    {Trackbar::Far, "Far", 100, &TrackbarPositions::farPos,
     [](const Tracker& t) { return percent(t.farFraction); },
     [](Tracker& t, int p) { t.farFraction = p / 100.0; }, false},
}};

namespace {

constexpr bool rowsInEnumOrder() {
    for (size_t i = 0; i < kTrackbars.size(); ++i) {
        if (static_cast<size_t>(kTrackbars[i].which) != i) {
            return false;
        }
    }
    return true;
}
static_assert(rowsInEnumOrder(), "trackbarRow() looks a row up by its enum value");

struct TrackbarContext {
    ShellState* shell;
    Trackbar which;
};
std::array<TrackbarContext, kTrackbarCount> gTrackbarContexts;

void onTrackbar(int position, void* userdata) {
    const auto* context = static_cast<TrackbarContext*>(userdata);
    applyTrackbar(*context->shell, context->which, position);
}

}  // namespace

const TrackbarRow& trackbarRow(Trackbar which) {
    return kTrackbars[static_cast<size_t>(which)];
}

void initTrackbarPositions(ShellState& shell) {
    for (const TrackbarRow& row : kTrackbars) {
        (shell.positions.*row.position) = row.fromSetting(*shell.tracker);
    }
}

int trackbarPosition(const ShellState& shell, Trackbar which) {
    return shell.positions.*trackbarRow(which).position;
}

void applyTrackbar(ShellState& shell, Trackbar which, int position) {
    const TrackbarRow& row = trackbarRow(which);
    Tracker& t = *shell.tracker;
    shell.positions.*row.position = position;
    // The toolkit reports the initial position too: a setting that stays the same has nothing
    // to rebuild.
    const bool changed = row.fromSetting(t) != position;
    row.toSetting(t, position);
    if (!row.rebuildsModel || !changed) {
        return;
    }
    t.buildHueModel(shell.referenceImage);
    if (shell.showHistogram) {
        shell.showHistogram(t.histogramPicture());
    }
}

void createSettingsPanel(ShellState& shell) {
    initTrackbarPositions(shell);
    for (size_t i = 0; i < kTrackbars.size(); ++i) {
        const TrackbarRow& row = kTrackbars[i];
        gTrackbarContexts[i] = TrackbarContext{&shell, row.which};
        cv::createTrackbar(row.name, kMainWindow, nullptr, row.maximum, onTrackbar,
                           &gTrackbarContexts[i]);
        cv::setTrackbarPos(row.name, kMainWindow, shell.positions.*row.position);
    }
}

}  // namespace camsteer
