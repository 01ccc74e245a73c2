#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

struct sd_bus;
struct sd_bus_slot;

namespace camsteer {

// The answer a portal request gave in its Response signal: the response code (0 granted, 1
// cancelled by the user, 2 ended otherwise) and the string and number results it carried.
struct PortalAnswer {
    bool arrived = false;
    std::uint32_t response = 2;
    std::map<std::string, std::string> strings;    // session_handle, restore_token, ...
    std::map<std::string, std::uint32_t> numbers;  // devices, persist_mode, ...
};

// The options of a portal call, all of type s or u.
struct PortalOptions {
    std::map<std::string, std::string> strings;
    std::map<std::string, std::uint32_t> numbers;
};

// A connection to the session bus and the desktop portal's RemoteDesktop interface on it, over
// sd-bus. Not thread-safe: one thread at a time uses it.
class PortalBus {
  public:
    // Connects and reads the interface's version and device types; nullptr with `why` set when
    // there is no session bus or no remote-desktop portal on it.
    static std::unique_ptr<PortalBus> open(std::string& why);
    ~PortalBus();
    PortalBus(const PortalBus&) = delete;
    PortalBus& operator=(const PortalBus&) = delete;

    std::uint32_t version() const { return version_; }
    std::uint32_t deviceTypes() const { return deviceTypes_; }

    // Calls `method` of the RemoteDesktop interface with `session` (unless empty) as an object
    // path first, then `text` (when not null) as a string, then the options with a fresh
    // handle_token, and waits for the request's Response until `deadline` or until `wakeFd`
    // becomes readable. An answer that never came has arrived == false; `why` says why.
    PortalAnswer request(const char* method, const std::string& session, const char* text,
                         PortalOptions options, std::chrono::steady_clock::time_point deadline,
                         int wakeFd, std::string& why);

    // Queues NotifyKeyboardKeycode for one evdev code, not waiting for a reply.
    bool notifyKey(const std::string& session, int evdevCode, bool down);
    // Sends what is queued; handles what came meanwhile (a Closed signal). False when the
    // connection is gone.
    bool flush();
    // Watches `session` for the portal's Closed signal; closed() tells whether it came.
    void watchSession(const std::string& session);
    bool closed() const { return closed_; }
    // Asks the portal to close `session`, waiting a moment for its reply.
    void closeSession(const std::string& session);

  private:
    explicit PortalBus(sd_bus* bus) : bus_(bus) {}
    // Handles what came in until `done` is set, `deadline` passes or `wakeFd` becomes readable.
    bool waitFor(const bool& done, std::chrono::steady_clock::time_point deadline, int wakeFd,
                 std::string& why);

    sd_bus* bus_;
    sd_bus_slot* closedSlot_ = nullptr;
    std::string sender_;  // the unique name as request paths spell it ("1_42")
    std::uint32_t version_ = 0;
    std::uint32_t deviceTypes_ = 0;
    unsigned tokens_ = 0;
    bool closed_ = false;
};

}  // namespace camsteer
