#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_interface;

namespace camsteer {

// A client connection of its own to the Wayland compositor, for key
// output. Every wait on the compositor is bounded and sending never waits, so a compositor that
// stopped answering can neither hang start-up nor stall a frame. Used from one thread at a time.
class WaylandConnection {
  public:
    struct Global {
        std::uint32_t name;
        std::string interface;
        std::uint32_t version;
    };

    // Connects to the compositor `name` (WAYLAND_DISPLAY's value, "" for the default) and
    // collects its globals. On failure returns nullptr and sets `why` to what failed.
    static std::unique_ptr<WaylandConnection> open(const std::string& name, std::string& why);
    // Waits (boundedly) until the compositor has handled everything sent, then disconnects.
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    wl_display* display() const { return display_; }
    // The global offering `interface`, or nullptr.
    const Global* find(const char* interface) const;
    // Binds a global at min(its version, `version`).
    void* bind(const Global& global, const wl_interface* interface, std::uint32_t version);
    // Waits until the compositor has handled everything sent so far, for at most a second.
    // False when it did not answer in time or the connection broke (see error()).
    bool roundtrip();
    // Sends what is queued without waiting, then handles whatever events have arrived. False
    // once the connection is broken; a compositor too busy to read is not an error.
    bool flush();
    // Why the connection broke ("" while it works): a protocol error or the system error.
    std::string error() const;

  private:
    explicit WaylandConnection(wl_display* display);
    bool readAvailable(int timeoutMs);

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    std::vector<Global> globals_;
    int failure_ = 0;  // errno of the break (EPROTO: a protocol error), 0 while it works
    bool timedOut_ = false;
};

}  // namespace camsteer
