#include "app/setup_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/reference_file.hpp"
#include "tracker/tracker.hpp"

namespace camsteer {

namespace {

constexpr size_t kLongestFile = 64 * 1024;

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    const size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

bool isText(const std::string& line) {
    for (const char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\r') || u == 0x7f) {
            return false;
        }
    }
    return true;
}

// A whole number in 0..maximum, or -1.
int numberIn(const std::string& text, int maximum) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != text.npos) {
        return -1;
    }
    const int n = std::atoi(text.c_str());
    return n <= maximum ? n : -1;
}

// Reads one "name = value" line into `setUp`; the problem, or empty when it was read.
std::string readLine(const std::string& line, KeptSettings& setUp) {
    if (!isText(line)) {
        return "not text";
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
        return "'" + line + "' is not name = value";
    }
    const std::string name = trimmed(line.substr(0, equals));
    const std::string value = trimmed(line.substr(equals + 1));
    for (const TrackbarRow& row : kTrackbars) {
        if (name == row.name) {
            const int position = numberIn(value, row.maximum);
            if (position < 0) {
                return name + " " + value + " is not a number from 0 to " +
                       std::to_string(row.maximum);
            }
            setUp.positions[static_cast<size_t>(row.which)] = position;
            return "";
        }
    }
    if (name == "keys") {
        std::string why;
        return parseKeyBindings(value, setUp.keys, why) ? "" : "keys: " + why;
    }
    if (name == "steady") {
        const int steady = numberIn(value, Tracker::kMaxSteady);
        if (steady < 0) {
            return "steady " + value + " is not a number from 0 to " +
                   std::to_string(Tracker::kMaxSteady);
        }
        setUp.steady = steady;
        return "";
    }
    return "unknown setting '" + name + "'";
}

}  // namespace

std::string setUpPath(const std::string& picturePath) {
    const size_t slash = picturePath.find_last_of('/');
    const size_t dot = picturePath.find_last_of('.');
    const size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
    const bool hasExtension = dot != std::string::npos && dot > baseStart;
    return (hasExtension ? picturePath.substr(0, dot) : picturePath) + ".conf";
}

std::string setUpText(const KeptSettings& setUp) {
    std::string text =
        "# camsteer set-up, kept by camsteer --learn beside its picture; one name = value a "
        "line\n";
    for (const TrackbarRow& row : kTrackbars) {
        text += std::string(row.name) + " = " +
                std::to_string(setUp.positions[static_cast<size_t>(row.which)]) + "\n";
    }
    text += "keys = " + setUp.keys.text() + "\n";
    text += "steady = " + std::to_string(setUp.steady) + "\n";
    return text;
}

void readSetUpText(const std::string& text, KeptSettings& setUp,
                   std::vector<std::string>& problems) {
    size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string problem = readLine(line, setUp);
        if (!problem.empty()) {
            problems.push_back("line " + std::to_string(number) + ": " + problem);
        }
    }
}

void readSetUpFile(const std::string& path, KeptSettings& setUp,
                   std::vector<std::string>& problems) {
    std::string text;
    std::string problem;
    if (!readFileStart(path, kLongestFile + 1, text, problem)) {
        if (!problem.empty()) {
            problems.push_back(problem);
        }
        return;
    }
    if (text.size() > kLongestFile) {
        problems.push_back("is longer than 64 KiB; only its start is read");
        const size_t lastLine = text.rfind('\n', kLongestFile);
        text.resize(lastLine == std::string::npos ? 0 : lastLine);
    }
    readSetUpText(text, setUp, problems);
}

SetUpKeeper::SetUpKeeper(std::string path, const KeptSettings& saved, Writer write,
                         std::function<void(const std::string&)> report)
    : path_(std::move(path)),
      saved_(saved),
      latest_(saved),
      write_(std::move(write)),
      report_(std::move(report)) {}

void SetUpKeeper::keep(const KeptSettings& current, Clock::time_point now, bool final) {
    if (current != latest_) {
        latest_ = current;
        changedAt_ = now;
    }
    if (latest_ == saved_ || (!final && now - changedAt_ < kQuiet)) {
        return;
    }
    // Tried once per change: a folder that cannot be written is said once, not every second.
    saved_ = latest_;
    std::string why;
    if (!write_(path_, setUpText(latest_), why)) {
        report_(why + "; the settings are not kept for the next run");
    }
}

}  // namespace camsteer
