#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/ui/settings_panel.hpp"
#include "platform/keys/key_names.hpp"

namespace camsteer {

// What a taught set-up keeps beside its picture, so that the next --learn run with the same
// picture starts where this one left off: one set-up per picture, a profile per game.
struct KeptSettings {
    std::array<int, kTrackbarCount> positions{};  // by Trackbar
    KeyBindings keys;
    int steady = 0;

    bool operator==(const KeptSettings& o) const {
        return positions == o.positions && keys == o.keys && steady == o.steady;
    }
    bool operator!=(const KeptSettings& o) const { return !(*this == o); }
};

// Where the set-up of the picture `picturePath` is kept: the same name ending in .conf
// (reference.png: reference.conf).
std::string setUpPath(const std::string& picturePath);

// The file's text: a comment, then one "name = value" a line (the trackbars by their names,
// "keys" as --keys takes them, "steady").
std::string setUpText(const KeptSettings& settings);

// Reads `text` over `setUp`: each line that can be read sets its value, and each that cannot
// (not "name = value", an unknown name, a value out of range, not text) leaves it and adds one
// problem ("line 3: unknown setting 'Foo'"). Blank lines and lines starting with # are skipped.
void readSetUpText(const std::string& text, KeptSettings& settings,
                   std::vector<std::string>& problems);

// Reads the file at `path` over `setUp` as readSetUpText does. A missing file is no problem; one
// that is no regular file, cannot be read or is too long (over 64 KiB) is one.
void readSetUpFile(const std::string& path, KeptSettings& settings,
                   std::vector<std::string>& problems);

// Keeps the set-up file in step with the run: it is written when the set-up differs from what
// the file holds and has stayed the same for a second (a trackbar being dragged is written once,
// when it rests), or at once at the end. Main thread only; never per frame.
class SetUpKeeper {
  public:
    using Clock = std::chrono::steady_clock;
    // Writes `text` to `path` as a whole; false with a one-line reason when it cannot.
    using Writer =
        std::function<bool(const std::string& path, const std::string& text, std::string& why)>;
    static constexpr std::chrono::milliseconds kQuiet{1000};

    // `saved`: what the file holds now (or, without a file, what a run starts from).
    SetUpKeeper(std::string path, const KeptSettings& saved, Writer write,
                std::function<void(const std::string&)> report);
    // Notes the set-up as it is at `now`, and writes it when it is due (`final`: at once).
    void keep(const KeptSettings& current, Clock::time_point now, bool final = false);

  private:
    std::string path_;
    KeptSettings saved_;
    KeptSettings latest_;
    Clock::time_point changedAt_{};
    Writer write_;
    std::function<void(const std::string&)> report_;
};

}  // namespace camsteer
