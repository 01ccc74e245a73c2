// The conversation with the desktop's remote-desktop portal, as the stand-in portal on a private
// session bus records it: the calls in order with their options, the consent kept for the next
// run where the portal can keep it, a kept consent the desktop forgot asked for again, and a
// refusal handing the keys to the next way of sending them. The ball is held top-left
// throughout, so the keys are Up (evdev 103) and Left (105).

#include <sys/stat.h>

#include <regex>

#include "harness.hpp"
#include "portal_beds.hpp"

namespace camsteer::e2e {
namespace {

struct ConsentCase {
    const char* name;
    PortalSession::Options portal;
    const char* keptToken;  // kept by an earlier run before the first (nullptr: none)
    int ending;             // the signal that ends each run
    // Per run: the stand-in's log, handle tokens as "*".
    std::vector<std::vector<std::string>> conversations;
    const char* tokenAfter;  // what is kept at the end (nullptr: nothing)
};

std::ostream& operator<<(std::ostream& os, const ConsentCase& c) {
    return os << c.name;
}

// First the tap that takes the place of the event GNOME loses (KEY_UNKNOWN), then the keys.
const std::vector<std::string> kHeldThenReleased = {
    "Key 240 1", "Key 240 0", "Key 103 1", "Key 105 1", "Key 103 0", "Key 105 0", "Closed Close"};

// A run's conversation: the set-up calls (SelectDevices with `select`), the answer, then `rest`.
std::vector<std::string> conversation(const std::string& select, const std::string& answer,
                                      std::vector<std::string> rest = kHeldThenReleased) {
    std::vector<std::string> lines = {"CreateSession handle_token=* session_handle_token=*",
                                      "SelectDevices handle_token=* " + select + "types=u:1",
                                      "Start handle_token=*", "Answer Start " + answer};
    lines.insert(lines.end(), rest.begin(), rest.end());
    return lines;
}

const std::string kPersist = "persist_mode=u:2 ";

const ConsentCase kConsentCases[] = {
    // Debian 12's portal keeps no consent: nothing is asked to be kept, nothing is.
    {"Version1AsksEveryStart", {1, "grant", 0}, nullptr, SIGTERM, {conversation("", "0")}, nullptr},
    {"Version2KeepsTheConsentForTheNextRun",
     {2, "grant", 0},
     nullptr,
     SIGTERM,
     {conversation(kPersist, "0 standin-token-1"),
      conversation(kPersist + "restore_token=s:standin-token-1 ", "0 standin-token-2")},
     "standin-token-2"},
    // The user takes a while: no key goes out before the answer.
    {"KeysWaitForTheAnswer",
     {2, "grant", 2.5},
     nullptr,
     SIGINT,
     {conversation(kPersist, "0 standin-token-1")},
     "standin-token-1"},
    {"AForgottenConsentIsAskedForAgain",
     {2, "stale-token", 0},
     "forgotten-token",
     SIGTERM,
     {[] {
         std::vector<std::string> lines =
             conversation(kPersist + "restore_token=s:forgotten-token ", "2", {"Closed Close"});
         const std::vector<std::string> again = conversation(kPersist, "0 standin-token-1");
         lines.insert(lines.end(), again.begin(), again.end());
         return lines;
     }()},
     "standin-token-1"},
    // XTest into Xwayland takes over; killed, the program leaves its watchdog to release them.
    {"ARefusalHandsTheKeysToTheNextWay",
     {2, "refuse", 0},
     nullptr,
     SIGKILL,
     {conversation(kPersist, "1", {"Closed Close"})},
     nullptr},
};

class PortalConsent : public ::testing::TestWithParam<ConsentCase> {
  protected:
    TempDir dir_;
};

TEST_P(PortalConsent, AsksKeepsAndFallsBackAsTheDesktopAnswers) {
    const ConsentCase& c = GetParam();
    XtermViaPortal bed(c.portal);
    const std::string missing = bed.missing();
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    const std::string clip = makeHoldClip(dir_, "ball.avi", 270, 50, 45, 150, 15, 15);
    ASSERT_FALSE(clip.empty()) << "camsteer_make_clip failed";
    ASSERT_EQ(bed.start(dir_), "") << "the receiver did not come up";
    const PortalSession& portal = bed.portal();
    const std::string tokenFile = portal.tokenFile();
    if (c.keptToken != nullptr) {
        ASSERT_EQ(runToEnd(Launch{"sh",
                                  {"-c", "mkdir -p \"$(dirname \"$0\")\" && echo $1 > \"$0\"",
                                   tokenFile, c.keptToken},
                                  {},
                                  "",
                                  std::nullopt},
                           dir_.path())
                      .status->code(),
                  0);
    }

    size_t logged = portal.log().size();
    for (size_t run = 0; run < c.conversations.size(); ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1));
        const size_t typedBefore = bed.typed().size();
        const auto typed = [&](const char* key) {
            return bed.typed().find(key, typedBefore) != std::string::npos;
        };
        auto program = bed.startReplay(clip, dir_);
        ASSERT_TRUE(pollUntil([&] { return typed("^[[A") && typed("^[[D"); }, kStartBound))
            << "typed: " << bed.typed() << "\nstderr:\n"
            << program->err();
        program->signal(c.ending);
        ASSERT_TRUE(program->wait().has_value()) << "the run did not end";
        if (std::string(c.portal.answer) == "refuse") {
            EXPECT_NE(program->err().find("camsteer_replay: the desktop refused remote keyboard "
                                          "access; key output via XTest into Xwayland"),
                      std::string::npos)
                << program->err();
        }
        // The session is closed once the program is gone, one way or the other.
        pollUntil(
            [&] {
                const std::vector<std::string> log = portal.log();
                return log.size() > logged && log.back().rfind("Closed", 0) == 0;
            },
            10s);
        std::vector<std::string> log = portal.log();
        std::vector<std::string> got;
        for (size_t i = logged; i < log.size(); ++i) {
            got.push_back(
                std::regex_replace(log[i], std::regex("handle_token=s:[^ ]*"), "handle_token=*"));
        }
        logged = log.size();
        EXPECT_EQ(got, c.conversations[run]) << "stderr:\n" << program->err();
        if (const auto down = bed.keysDown()) {
            EXPECT_TRUE(pollUntil([&] { return bed.keysDown()->empty(); }, 5s))
                << "left down: " << ::testing::PrintToString(*bed.keysDown());
        }
    }
    struct stat info {};
    const bool kept = stat(tokenFile.c_str(), &info) == 0;
    EXPECT_EQ(kept, c.tokenAfter != nullptr);
    if (kept && c.tokenAfter != nullptr) {
        EXPECT_EQ(readFile(tokenFile), std::string(c.tokenAfter) + "\n");
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, PortalConsent, ::testing::ValuesIn(kConsentCases),
                         [](const ::testing::TestParamInfo<ConsentCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace camsteer::e2e
