#include "app/kept_settings.hpp"

#include <memory>

#include <opencv2/highgui.hpp>

#include "platform/files/file_write.hpp"
#include "platform/process/quoted_name.hpp"

namespace camsteer {

namespace {

// The settings as the run has them now: the trackbars' positions, the rest as it started.
KeptSettings currentSettings(const ShellState& shell, const KeptSettings& started) {
    KeptSettings now = started;
    for (const TrackbarRow& row : kTrackbars) {
        now.positions[static_cast<size_t>(row.which)] = trackbarPosition(shell, row.which);
    }
    return now;
}

// One line for what could not be read: the first problem, and how many more there are.
std::string problemLine(const std::string& path, const std::vector<std::string>& problems) {
    const size_t more = problems.size() - 1;
    return quotedName(path) + " " + problems.front() +
           (more == 0 ? "" : " (and " + std::to_string(more) + " more)") +
           "; the settings it holds otherwise are used";
}

bool writeText(const std::string& path, const std::string& text, std::string& why) {
    return writeFileAtomically(path, std::vector<unsigned char>(text.begin(), text.end()), why);
}

}  // namespace

StartingSettings startingSettings(const Tracker& tracker, const CommandLine& line,
                                  const ShellOptions& options) {
    StartingSettings settings;
    for (const TrackbarRow& row : kTrackbars) {
        settings.kept.positions[static_cast<size_t>(row.which)] = row.fromSetting(tracker);
    }
    settings.kept.steady = tracker.steady;
    if (line.learn) {
        const std::string path = setUpPath(line.learnPath);
        std::vector<std::string> problems;
        readSetUpFile(path, settings.kept, problems);
        if (!problems.empty()) {
            diagnose(options, problemLine(path, problems));
        }
    }
    settings.run = settings.kept;
    if (line.keysGiven) {
        settings.run.keys = line.keys;
    }
    if (line.steadyGiven) {
        settings.run.steady = line.steady;
    }
    return settings;
}

void useStartingSettings(ShellState& shell, const CommandLine& line, const ShellOptions& options,
                         const StartingSettings& settings) {
    for (const TrackbarRow& row : kTrackbars) {
        const int position = settings.run.positions[static_cast<size_t>(row.which)];
        if (position != trackbarPosition(shell, row.which)) {
            applyTrackbar(shell, row.which, position);
            cv::setTrackbarPos(row.name, kMainWindow, position);
        }
    }
    shell.tracker->steady = settings.run.steady;
    if (!line.learn) {
        return;
    }
    auto keeper = std::make_shared<SetUpKeeper>(
        setUpPath(line.learnPath), settings.kept, writeText,
        [options](const std::string& why) { diagnose(options, why); });
    shell.keepSettings = [&shell, keeper, started = settings.run](bool atEnd) {
        keeper->keep(currentSettings(shell, started), SetUpKeeper::Clock::now(), atEnd);
    };
}

}  // namespace camsteer
