// The Wayland key backends against a compositor of the tests' own: what they ask of it, in what
// order, and that one going away is noticed without a hang.

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/keys/held_keys.hpp"
#include "platform/keys/keyboard_wayland.hpp"
#include "tests/unit/platform/keys/fake_compositor.hpp"

namespace camsteer {
namespace {

TEST(WaylandKeyboard, RequestsReachTheCompositorInOrder) {
    enum class Backend { kVirtualKeyboard, kFakeInput };
    struct Case {
        const char* what;
        test::FakeCompositor::Offer offer;
        Backend backend;
        bool dropped;       // the compositor ends the connection before the keys
        std::string fails;  // part of the reason when the backend must not open
        std::vector<std::string> requests;
    };
    const std::vector<std::string> vkOpen = {"create_virtual_keyboard", "keymap 1 ok"};
    const Case cases[] = {
        {"virtual keyboard: keymap first, then each change once",
         {true, 0},
         Backend::kVirtualKeyboard,
         false,
         "",
         {"create_virtual_keyboard", "keymap 1 ok", "key 103 1", "key 105 1", "key 103 0",
          "key 105 0"}},
        {"fake input: authenticated before any key",
         {false, 4},
         Backend::kFakeInput,
         false,
         "",
         {"authenticate Camsteer", "keyboard_key 103 1", "keyboard_key 105 1", "keyboard_key 103 0",
          "keyboard_key 105 0"}},
        // The newest version the protocol file knows: from 5 on the object ends with a request.
        {"fake input at the newest version",
         {false, static_cast<int>(org_kde_kwin_fake_input_interface.version)},
         Backend::kFakeInput,
         false,
         "",
         {"authenticate Camsteer", "keyboard_key 103 1", "keyboard_key 105 1", "keyboard_key 103 0",
          "keyboard_key 105 0"}},
        {"fake input without keys (version 3)",
         {true, 3},
         Backend::kFakeInput,
         false,
         "version 3",
         {}},
        {"no fake input offered", {true, 0}, Backend::kFakeInput, false, "no fake input", {}},
        {"no virtual keyboard offered",
         {false, 4},
         Backend::kVirtualKeyboard,
         false,
         "virtual keyboards",
         {}},
        {"compositor gone", {true, 0}, Backend::kVirtualKeyboard, true, "", vkOpen},
    };
    const std::string socket = "/tmp/camsteer-test-wayland-" + std::to_string(getpid());
    DesktopSession session;
    session.waylandDisplay = socket;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::FakeCompositor compositor(socket, c.offer);
        ASSERT_TRUE(compositor.ok());
        std::string reason;
        std::unique_ptr<WaylandKeyboard> opened =
            c.backend == Backend::kVirtualKeyboard
                ? openVirtualKeyboard(session, KeyBindings(), reason)
                : openFakeInputKeyboard(session, KeyBindings(), reason);
        if (!c.fails.empty()) {
            EXPECT_EQ(opened, nullptr);
            EXPECT_NE(reason.find(c.fails), std::string::npos) << reason;
            continue;
        }
        ASSERT_NE(opened, nullptr) << reason;
        WaylandKeyboard& backend = *opened;
        // KWin keeps a fake-input key down after its client is gone; wlroots drops the keys.
        EXPECT_EQ(backend.watchdogBackend(),
                  c.backend == Backend::kFakeInput ? "KDE fake input" : "");
        auto held = std::make_unique<HeldKeys>(std::move(opened));
        HeldKeys& keys = *held;
        if (c.dropped) {
            compositor.dropClients();
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            for (int i = 0;
                 !backend.connectionLost() && std::chrono::steady_clock::now() < deadline; ++i) {
                keys.want(KeySet().set(kSteerUp, i % 2 == 0));  // never blocks, however often
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            EXPECT_TRUE(backend.connectionLost());
        } else {
            keys.want(KeySet().set(kSteerUp).set(kSteerLeft));
            keys.want(KeySet().set(kSteerLeft));
            keys.releaseAll();
        }
        // The compositor's requests once it has `n` of them (or after 5 s).
        const auto requestsWhen = [&](size_t n) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (compositor.requests().size() < n && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            return compositor.requests();
        };
        std::vector<std::string> requests = requestsWhen(c.requests.size());
        if (c.dropped && requests.size() > c.requests.size()) {
            requests.resize(c.requests.size());  // a key may have arrived before the drop
        }
        EXPECT_EQ(requests, c.requests);
        if (c.backend == Backend::kFakeInput) {
            // A destroy request only where the bound version has one (a protocol error below).
            held.reset();
            const bool destroyRequest = c.offer.fakeInputVersion >= 5;
            requests = destroyRequest ? requestsWhen(c.requests.size() + 1) : compositor.requests();
            EXPECT_EQ(requests.size() > c.requests.size() && requests.back() == "destroy",
                      destroyRequest)
                << ::testing::PrintToString(requests);
        }
    }
}

}  // namespace
}  // namespace camsteer
