#include "platform/keys/portal.hpp"

#include <linux/input.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/keys/keyboard_uinput.hpp"
#include "platform/keys/portal_bus.hpp"
#include "platform/keys/portal_token.hpp"
#include "platform/process/program_name.hpp"

namespace camsteer {

namespace {

constexpr std::uint32_t kKeyboardDevice = 1;  // the portal's device type KEYBOARD
constexpr std::uint32_t kPersistUntilRevoked = 2;
constexpr std::uint32_t kCancelledByUser = 1;
// GNOME's compositor (mutter 43) loses the first key event of a new remote-desktop session: the
// first steering key pressed would never go down. A tap of KEY_UNKNOWN, which no keyboard layout
// gives a symbol, takes that place unseen.
constexpr int kFirstEventKey = KEY_UNKNOWN;
// Making and configuring a session shows nothing to the user: the portal answers at once.
constexpr auto kSetUpBound = std::chrono::seconds(10);
// The user may take as long as they like over the dialog.
constexpr auto kDialogBound = std::chrono::hours(24 * 365);

class PortalKeyboard final : public Keyboard {
  public:
    PortalKeyboard(std::unique_ptr<PortalBus> bus, std::unique_ptr<Keyboard> fallback,
                   std::string fallbackInUse, const KeyBindings& bindings, std::string tokenPath)
        : codes_(evdevCodes(bindings)),
          bus_(std::move(bus)),
          fallback_(std::move(fallback)),
          fallbackInUse_(std::move(fallbackInUse)),
          tokenPath_(std::move(tokenPath)),
          wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    ~PortalKeyboard() override {
        stopping_ = true;
        const std::uint64_t one = 1;
        if (::write(wakeFd_, &one, sizeof(one)) < 0) {
            // The watcher then sees stopping_ at its next wake-up.
        }
        if (watcher_.joinable()) {
            watcher_.join();
        }
        ::close(wakeFd_);
        if (state_ != State::kHandedOver && !session_.empty()) {
            bus_->flush();
            bus_->closeSession(session_);  // also takes an unanswered dialog away
        }
    }

    // Makes the session and selects the keyboard, then starts it (and awaits the answer) on a
    // thread of its own. False with `why` set when the portal made no session.
    bool begin(std::string& why) {
        if (wakeFd_ < 0) {
            why = "cannot make an event descriptor";
            return false;
        }
        if ((bus_->deviceTypes() & kKeyboardDevice) == 0) {
            why = "the desktop's remote-desktop portal offers no keyboard";
            return false;
        }
        const std::string token = bus_->version() >= 2 ? readRestoreToken(tokenPath_) : "";
        if (!setUp(token, why)) {
            return false;
        }
        watcher_ = std::thread([this, token] { awaitConsent(!token.empty()); });
        return true;
    }

    void key(SteeringKey key, bool down) override {
        std::lock_guard<std::mutex> guard(lock_);
        const auto bit = static_cast<std::uint8_t>(1u << key);
        down_ = down ? down_ | bit : down_ & ~bit;
        if (state_ == State::kGranted) {
            queued_.emplace_back(codes_[key], down);
        } else if (state_ == State::kHandedOver && fallback_) {
            fallback_->key(key, down);
        }
    }

    void flush() override {
        std::lock_guard<std::mutex> guard(lock_);
        if (state_ == State::kGranted) {
            bool sent = true;
            for (const auto& [code, down] : queued_) {
                sent = sent && bus_->notifyKey(session_, code, down);
            }
            queued_.clear();
            if (!bus_->flush() || !sent || bus_->closed()) {
                handOverLocked("the desktop ended remote keyboard access", false);
            }
        } else if (state_ == State::kHandedOver && fallback_) {
            fallback_->flush();
        }
    }

    const char* name() const override {
        return state_ == State::kHandedOver && fallback_ ? fallback_->name()
                                                         : keyBackendName(KeyBackend::kPortal);
    }
    std::string watchdogBackend() const override {
        // The portal's keys go with its session, which the portal closes with the connection.
        return fallback_ ? fallback_->watchdogBackend() : "";
    }

    // Before begin() succeeded: gives the fallback back.
    std::unique_ptr<Keyboard> takeFallback() { return std::move(fallback_); }

  private:
    enum class State { kAsking, kGranted, kHandedOver };

    // CreateSession, then SelectDevices for the keyboard, asking that consent be kept where the
    // portal can (passing the kept `token`, if any).
    bool setUp(const std::string& token, std::string& why) {
        const auto deadline = std::chrono::steady_clock::now() + kSetUpBound;
        PortalOptions create;
        create.strings["session_handle_token"] = "camsteer" + std::to_string(::getpid());
        const PortalAnswer created =
            bus_->request("CreateSession", "", nullptr, create, deadline, wakeFd_, why);
        if (!created.arrived) {
            return false;
        }
        const auto handle = created.strings.find("session_handle");
        if (created.response != 0 || handle == created.strings.end() || handle->second.empty()) {
            why = "the desktop's remote-desktop portal made no session";
            return false;
        }
        session_ = handle->second;
        bus_->watchSession(session_);
        PortalOptions select;
        select.numbers["types"] = kKeyboardDevice;
        if (bus_->version() >= 2) {
            select.numbers["persist_mode"] = kPersistUntilRevoked;
            if (!token.empty()) {
                select.strings["restore_token"] = token;
            }
        }
        const PortalAnswer selected =
            bus_->request("SelectDevices", session_, nullptr, select, deadline, wakeFd_, why);
        if (selected.arrived && selected.response != 0) {
            why = "the desktop's remote-desktop portal would not select a keyboard";
        }
        return selected.arrived && selected.response == 0;
    }

    // On the watcher thread, which has the bus to itself until the answer is handled.
    void awaitConsent(bool withToken) {
        for (;;) {
            std::string why;
            const PortalAnswer answer =
                bus_->request("Start", session_, "", {},
                              std::chrono::steady_clock::now() + kDialogBound, wakeFd_, why);
            if (stopping_) {
                return;
            }
            const auto devices = answer.numbers.find("devices");
            const bool keyboard =
                devices == answer.numbers.end() || (devices->second & kKeyboardDevice) != 0;
            if (answer.arrived && answer.response == 0 && keyboard) {
                grant(answer);
                return;
            }
            if (answer.arrived && answer.response != kCancelledByUser && withToken) {
                // The kept consent no longer holds (the desktop forgets it, at a logout for
                // one): ask the user again.
                withToken = false;
                bus_->closeSession(session_);
                if (setUp("", why)) {
                    continue;
                }
            }
            std::lock_guard<std::mutex> guard(lock_);
            handOverLocked(!answer.arrived
                               ? "the desktop's remote-desktop portal failed (" + why + ")"
                               : "the desktop refused remote keyboard access",
                           true);
            return;
        }
    }

    void grant(const PortalAnswer& answer) {
        if (bus_->version() >= 2) {
            const auto token = answer.strings.find("restore_token");
            std::string why;
            if (!keepRestoreToken(tokenPath_, token != answer.strings.end() ? token->second : "",
                                  why)) {
                std::fprintf(stderr,
                             "%s: cannot keep the desktop's consent (%s): it asks again "
                             "at the next start\n",
                             programName(), why.c_str());
            }
        }
        std::lock_guard<std::mutex> guard(lock_);
        state_ = State::kGranted;
        // What the frames asked for while the user decided goes down now.
        const std::uint8_t down = down_;
        queued_.clear();
        bus_->notifyKey(session_, kFirstEventKey, true);
        bus_->notifyKey(session_, kFirstEventKey, false);
        for (int k = 0; k < kSteeringKeyCount; ++k) {
            if ((down >> k & 1u) != 0) {
                bus_->notifyKey(session_, codes_[k], true);
            }
        }
        bus_->flush();
    }

    // Says why the portal sends no keys (`what`) and what does now, and gives the fallback the
    // keys that should be down.
    void handOverLocked(const std::string& what, bool atStart) {
        state_ = State::kHandedOver;
        const std::string next =
            fallback_ ? fallbackInUse_
                      : std::string("no key is sent: ") +
                            (atStart ? "allow it at the next start" : "start camsteer again") +
                            ", or set up uinput (see 'man camsteer')";
        std::fprintf(stderr, "%s: %s; %s\n", programName(), what.c_str(), next.c_str());
        if (!session_.empty()) {
            bus_->closeSession(session_);
        }
        if (fallback_ && down_ != 0) {
            fallback_->keys(KeySet::fromBits(down_), true);
            fallback_->flush();
        }
    }

    const std::array<int, kSteeringKeyCount> codes_;  // evdev, per steering key
    std::unique_ptr<PortalBus> bus_;
    std::unique_ptr<Keyboard> fallback_;
    const std::string fallbackInUse_;
    const std::string tokenPath_;
    const int wakeFd_;
    std::string session_;
    std::thread watcher_;
    std::atomic<bool> stopping_{false};

    mutable std::mutex lock_;
    std::atomic<State> state_{State::kAsking};
    std::uint8_t down_ = 0;                     // the steering keys asked down, bit per SteeringKey
    std::vector<std::pair<int, bool>> queued_;  // evdev code, down
};

}  // namespace

std::unique_ptr<Keyboard> openPortalKeyboard(const DesktopSession& session,
                                             std::unique_ptr<Keyboard>& fallback,
                                             const std::string& fallbackInUse,
                                             const KeyBindings& bindings, std::string& why) {
    std::unique_ptr<PortalBus> bus = PortalBus::open(why);
    if (!bus) {
        return nullptr;
    }
    auto keyboard = std::make_unique<PortalKeyboard>(
        std::move(bus), std::move(fallback), fallbackInUse, bindings, restoreTokenPath(session));
    if (!keyboard->begin(why)) {
        fallback = keyboard->takeFallback();
        return nullptr;
    }
    return keyboard;
}

}  // namespace camsteer
