// A taught set-up's file: read back as written, damaged lines named and skipped with the rest
// used, and written only when the set-up has changed and come to rest.

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/setup_file.hpp"

namespace camsteer {
namespace {

KeptSettings defaults() {
    KeptSettings setUp;
    setUp.positions = {126, 80, 256, 5, 20, 12};
    return setUp;
}

TEST(SetUpFile, ReadsWhatItCanAndNamesEachLineItCannot) {
    KeptSettings moved = defaults();
    moved.positions[static_cast<size_t>(Trackbar::Smin)] = 40;
    moved.steady = 4;
    std::string why;
    ASSERT_TRUE(parseKeyBindings("up=w,left=a", moved.keys, why));
    struct Case {
        std::string text;
        KeptSettings want;
        std::vector<std::string> problems;
    };
    KeptSettings smin40 = defaults();
    smin40.positions[static_cast<size_t>(Trackbar::Smin)] = 40;
    const Case cases[] = {
        {setUpText(moved), moved, {}},
        {"", defaults(), {}},
        {"# a comment\n\n  Smin=40  \r\n", smin40, {}},
        {"Smin = 40\nFoo = 3\n", smin40, {"line 2: unknown setting 'Foo'"}},
        {"Smin = 300\nSmin = 40\n", smin40, {"line 1: Smin 300 is not a number from 0 to 256"}},
        {"Near = -1\nsteady = 21\nFar = 1e3\n",
         defaults(),
         {"line 1: Near -1 is not a number from 0 to 100",
          "line 2: steady 21 is not a number from 0 to 20",
          "line 3: Far 1e3 is not a number from 0 to 100"}},
        {"keys = up=nosuch\nSmin\n",
         defaults(),
         {"line 1: keys: unknown key name 'nosuch' for up", "line 2: 'Smin' is not name = value"}},
        {std::string("Smin = 40\n\x89PNG\x1a\n\0\0", 17),
         smin40,
         {"line 2: not text", "line 3: not text"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KeptSettings got = defaults();
        std::vector<std::string> problems;
        readSetUpText(c.text, got, problems);
        EXPECT_TRUE(got == c.want);
        ASSERT_EQ(problems.size(), c.problems.size());
        for (size_t i = 0; i < problems.size(); ++i) {
            EXPECT_EQ(problems[i].rfind(c.problems[i], 0), 0u) << problems[i];
        }
    }
}

TEST(SetUpFile, ItsPlaceAndWhatIsNoFile) {
    EXPECT_EQ(setUpPath("/d/camsteer/reference.png"), "/d/camsteer/reference.conf");
    EXPECT_EQ(setUpPath("game.v2/out"), "game.v2/out.conf");
    EXPECT_EQ(setUpPath(".hidden"), ".hidden.conf");
    char folder[] = "/tmp/camsteer-setup-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    const std::string fifo = dir + "/fifo.conf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {dir + "/missing.conf", dir, fifo}) {
        KeptSettings got = defaults();
        std::vector<std::string> problems;
        readSetUpFile(path, got, problems);  // a FIFO with no writer must not block
        EXPECT_TRUE(got == defaults());
        EXPECT_EQ(problems.size(), path == dir + "/missing.conf" ? 0u : 1u) << path;
    }
    unlink(fifo.c_str());
    rmdir(folder);
}

TEST(SetUpKeeper, WritesAChangeOnceItRestsAndAtTheEnd) {
    using namespace std::chrono_literals;
    std::vector<std::string> written;
    std::vector<std::string> reports;
    bool writable = true;
    SetUpKeeper keeper(
        "/x/reference.conf", defaults(),
        [&](const std::string&, const std::string& text, std::string& why) {
            written.push_back(text);
            why = "cannot write";
            return writable;
        },
        [&](const std::string& line) { reports.push_back(line); });
    const auto t0 = SetUpKeeper::Clock::time_point{} + 100s;
    KeptSettings s = defaults();
    keeper.keep(s, t0);
    EXPECT_TRUE(written.empty()) << "nothing changed";
    for (int i = 0; i < 50; ++i) {  // a trackbar dragged for half a second
        s.positions[0] = 100 + i;
        keeper.keep(s, t0 + i * 10ms);
    }
    keeper.keep(s, t0 + 1400ms);
    EXPECT_TRUE(written.empty()) << "not yet at rest for a second";
    keeper.keep(s, t0 + 1500ms);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_NE(written[0].find("Vmin = 149\n"), std::string::npos);
    keeper.keep(s, t0 + 5s);
    EXPECT_EQ(written.size(), 1u) << "written once";
    s.positions[1] = 7;
    writable = false;
    keeper.keep(s, t0 + 6s, true);  // the end: at once
    ASSERT_EQ(written.size(), 2u);
    ASSERT_EQ(reports.size(), 1u);
    keeper.keep(s, t0 + 60s);
    EXPECT_EQ(written.size(), 2u) << "a failed write is tried once per change";
}

}  // namespace
}  // namespace camsteer
