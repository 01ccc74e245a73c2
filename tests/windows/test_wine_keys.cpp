// camsteer_replay.exe under Wine steering a Win32 window of the tests' own: its three windows
// where they belong, the picture mirrored with its overlay, the cell's keys with the right
// virtual-key and scan codes, and no key left down however the run ends.

#include <gtest/gtest.h>
#include <signal.h>

#include <map>
#include <sstream>

#include "wine_bed.hpp"

namespace camsteer::windows {
namespace {

// How the run ends: Escape into "Camsteer"; SIGINT, which Wine turns into Ctrl-C for the program's
// console handler; SIGTERM and SIGKILL, which end the Windows process outright.
enum class Ending { kEscape, kSigint, kSigterm, kSigkill };

struct KeyCase {
    std::string name;
    int x, y, radius;                  // the ball in the stored picture
    std::vector<std::string> pressed;  // "VK SCAN EXTENDED", as the receiver says them
    Ending ending;
    bool checkWindows;  // the windows' places and the picture, once is enough
};

std::ostream& operator<<(std::ostream& os, const KeyCase& c) {
    return os << c.name;
}

// The receiver watches these keys' states, in this order: bit i of its "held" mask.
const std::vector<std::string> kWatched = {"0x26", "0x28", "0x25", "0x27", "0x6b", "0x6d"};

// The arrows are extended keys of scan codes E0 48 (up), E0 4B (left); the keypad's plus and
// minus are plain 4E and 4A.
const std::vector<KeyCase> kKeyCases = {
    {"TopLeftEscape", 270, 50, 45, {"26 48 1", "25 4b 1"}, Ending::kEscape, true},
    {"NearSigterm", 160, 120, 90, {"6b 4e 0"}, Ending::kSigterm, false},
    {"BottomRightCtrlC", 50, 190, 45, {"28 50 1", "27 4d 1"}, Ending::kSigint, false},
    {"FarSigkill", 160, 120, 45, {"6d 4a 0"}, Ending::kSigkill, false},
};

// What the receiver said: the key messages it got, and the latest held mask.
struct Heard {
    std::map<std::string, int> downs;
    std::map<std::string, int> ups;
    int held = -1;
    bool focused = false;
    explicit Heard(const std::string& out) {
        for (std::string line : lines(out)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            std::istringstream words(line);
            std::string kind;
            words >> kind;
            const std::string rest = line.substr(std::min(line.size(), kind.size() + 1));
            if (kind == "down") {
                ++downs[rest];
            } else if (kind == "up") {
                ++ups[rest];
            } else if (kind == "focus" || kind == "unfocus") {
                focused = kind == "focus";
            } else if (kind == "held") {
                held = std::stoi(rest);
            }
        }
    }
};

int heldMask(const std::vector<std::string>& keys) {
    std::map<std::string, int> bit = {{"26", 0}, {"28", 1}, {"25", 2},
                                      {"27", 3}, {"6b", 4}, {"6d", 5}};
    int mask = 0;
    for (const std::string& key : keys) {
        mask |= 1 << bit[key.substr(0, 2)];
    }
    return mask;
}

// Where the 320 x 240 picture begins in a screenshot of "Camsteer": found by its white grid,
// columns 106 and 212, rows 79 and 159 from the top.
std::optional<cv::Point> pictureOrigin(const cv::Mat& shot) {
    std::vector<int> columns;
    std::vector<int> rows;
    for (int x = 0; x < shot.cols; ++x) {
        columns.push_back(countWhere(shot.col(x).clone(), isWhite) >= 150 ? x : -1);
    }
    for (int y = 0; y < shot.rows; ++y) {
        rows.push_back(countWhere(shot.row(y).clone(), isWhite) >= 200 ? y : -1);
    }
    const auto first = [](const std::vector<int>& at, int gap) -> std::optional<int> {
        for (int v : at) {
            if (v >= 0 && v + gap < static_cast<int>(at.size()) && at[v + gap] >= 0) {
                return v;
            }
        }
        return std::nullopt;
    };
    const std::optional<int> column = first(columns, 106);
    const std::optional<int> row = first(rows, 80);
    if (!column || !row) {
        return std::nullopt;
    }
    return cv::Point(*column - 106, *row - 79);
}

// The centre of the ball's blue in the picture at `origin`, if it shows.
std::optional<cv::Point> ballCentre(const cv::Mat& shot, cv::Point origin) {
    const cv::Rect area =
        cv::Rect(origin, cv::Size(320, 240)) & cv::Rect(0, 0, shot.cols, shot.rows);
    cv::Mat blue(area.size(), CV_8U);
    for (int y = 0; y < area.height; ++y) {
        for (int x = 0; x < area.width; ++x) {
            const cv::Vec3b p = shot.at<cv::Vec3b>(area.y + y, area.x + x);
            blue.at<uchar>(y, x) = p[0] > 120 && p[2] < 60 && p[0] > p[1] + 60 ? 255 : 0;
        }
    }
    const cv::Moments m = cv::moments(blue, true);
    if (m.m00 < 500) {
        return std::nullopt;
    }
    return cv::Point(static_cast<int>(m.m10 / m.m00), static_cast<int>(m.m01 / m.m00));
}

class WineKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(WineKeys, SteerAFocusedWindowAndLeaveNoKeyDown) {
    const KeyCase& c = GetParam();
    const std::unique_ptr<WineBed> bed =
        wineBedFor({"camsteer_replay.exe", "camsteer_receiver.exe"});
    if (!bed) {
        return;
    }
    // One second without the ball, four with it, again and again: whenever the receiver gets
    // the focus, the ball's keys come to it fresh within five seconds.
    const std::string clip = makeHoldClip(bed->dir(), "ball.avi", c.x, c.y, c.radius, 40, 10, 10);
    ASSERT_FALSE(clip.empty()) << "camsteer_make_clip failed";
    std::vector<std::string> receiverArgs = {"700", "500"};
    receiverArgs.insert(receiverArgs.end(), kWatched.begin(), kWatched.end());
    auto receiver = bed->start("camsteer_receiver.exe", receiverArgs);
    const std::optional<Window> receiverWindow = bed->x().waitForWindow("receiver", kStartBound);
    ASSERT_TRUE(receiverWindow) << receiver->err();
    auto program = bed->start("camsteer_replay.exe", {winePath(sampleBlue()), winePath(clip)});
    ProgramWindows windows;
    for (auto [name, where] :
         {std::pair{"Camsteer", &windows.camsteer}, std::pair{"Output", &windows.output},
          std::pair{"Histogram", &windows.histogram}}) {
        const std::optional<Window> found = bed->x().waitForWindow(name, kStartBound);
        ASSERT_TRUE(found) << "no window \"" << name << "\"\n" << program->err();
        *where = *found;
    }
    // The picture shows (its grid is found) before anything else: its windows come up first.
    cv::Mat shot;
    std::optional<cv::Point> origin;
    std::optional<cv::Point> ball;
    const auto look = [&] {  // the window's size is final only once it shows its picture
        const Geometry g = bed->x().geometry(windows.camsteer);
        shot = screenshot(bed->x(), windows.camsteer, cv::Rect(0, 0, g.width, g.height));
        origin = shot.empty() ? std::nullopt : pictureOrigin(shot);
        ball = origin ? ballCentre(shot, *origin) : std::nullopt;
    };
    ASSERT_TRUE(pollUntil([&] { return look(), origin.has_value(); }, kStartBound))
        << program->err();
    if (c.checkWindows) {
        const std::pair<Window, cv::Point> places[] = {{windows.camsteer, {50, 50}},
                                                       {windows.output, {385, 50}},
                                                       {windows.histogram, {385, 320}}};
        for (const auto& [window, place] : places) {
            const Geometry at = bed->x().geometry(window);
            EXPECT_EQ(cv::Point(at.x, at.y), place);
        }
        // The picture as the user sees it: mirrored (the ball stored at x = 270 shows at 49),
        // with the steering outline in green.
        EXPECT_TRUE(pollUntil(
            [&] {
                look();
                return ball && std::abs(ball->x - (319 - c.x)) <= 3 &&
                       std::abs(ball->y - c.y) <= 3 && countWhere(shot, isGreen) > 100;
            },
            kStartBound))
            << "grid found: " << origin.has_value() << ", ball at "
            << (ball ? std::to_string(ball->x) + "," + std::to_string(ball->y) : "none");
    }
    // The program's new windows took the focus; the user gives it to the receiver (again, should
    // it lose it before the keys come).
    const int want = heldMask(c.pressed);
    const auto steered = [&] {
        const Heard heard(receiver->out());
        if (!heard.focused) {
            bed->x().drag(*receiverWindow, {100, 80}, {100, 80});
        }
        return heard.focused && heard.held == want && heard.downs.size() == c.pressed.size();
    };
    ASSERT_TRUE(pollUntil(steered, kStartBound)) << "receiver:\n"
                                                 << receiver->out() << "\nprogram:\n"
                                                 << program->err();
    // Ended at once, while the keys are down.
    if (c.ending == Ending::kEscape) {
        // A click on its title bar (Wine draws it) gives "Camsteer" the focus, as a user would,
        // and Escape then goes there as from a keyboard. Wine moves the X focus a little after
        // the receiver hears it lost it, so a key that came too early is typed again.
        Display* display = bed->x().display();
        const KeyCode escape = XKeysymToKeycode(display, XK_Escape);
        for (int tries = 0; tries < 5 && program->running(); ++tries) {
            bed->x().drag(windows.camsteer, {shot.cols / 2, 8}, {shot.cols / 2, 8});
            pollUntil([&] { return !Heard(receiver->out()).focused; }, kStartBound);
            XTestFakeKeyEvent(display, escape, True, CurrentTime);
            XTestFakeKeyEvent(display, escape, False, CurrentTime);
            XSync(display, False);
            program->wait(2s);
        }
    } else {
        program->signal(c.ending == Ending::kSigint    ? SIGINT
                        : c.ending == Ending::kSigterm ? SIGTERM
                                                       : SIGKILL);
    }
    const Heard heard(receiver->out());
    for (const std::string& key : c.pressed) {
        EXPECT_EQ(heard.downs.count(key), 1u) << key << " not received; receiver:\n"
                                              << receiver->out();
    }
    const std::optional<ExitStatus> status = program->wait();
    ASSERT_TRUE(status.has_value()) << "the run did not end\n"
                                    << program->err() << "receiver:\n"
                                    << receiver->out();
    if (c.ending == Ending::kEscape || c.ending == Ending::kSigint) {
        // The normal shutdown; Ctrl-C's status as for SIGINT on Linux.
        EXPECT_EQ(status->describe(),
                  c.ending == Ending::kEscape ? "exit status 0" : "exit status 130")
            << program->err();
    }
    EXPECT_TRUE(pollUntil([&] { return Heard(receiver->out()).held == 0; }, 10s))
        << "left down; receiver:\n"
        << receiver->out();
}

INSTANTIATE_TEST_SUITE_P(Cells, WineKeys, ::testing::ValuesIn(kKeyCases),
                         [](const ::testing::TestParamInfo<KeyCase>& info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace camsteer::windows
