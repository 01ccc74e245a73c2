#include "platform/keys/wayland_connection.hpp"

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>

namespace camsteer {

namespace {

// How long a wait for the compositor's answer may take.
constexpr int kAnswerTimeoutMs = 1000;

// libwayland reports a broken connection on standard error by itself; the backends say it in
// their own words, once, so its lines are dropped.
void quietLog(const char* /*format*/, va_list /*args*/) {}

void onGlobal(void* data, wl_registry* /*registry*/, std::uint32_t name, const char* interface,
              std::uint32_t version) {
    static_cast<std::vector<WaylandConnection::Global>*>(data)->push_back(
        {name, interface, version});
}

void onGlobalRemove(void* data, wl_registry* /*registry*/, std::uint32_t name) {
    auto* globals = static_cast<std::vector<WaylandConnection::Global>*>(data);
    globals->erase(std::remove_if(globals->begin(), globals->end(),
                                  [name](const auto& g) { return g.name == name; }),
                   globals->end());
}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

void onDone(void* data, wl_callback* /*callback*/, std::uint32_t /*serial*/) {
    *static_cast<bool*>(data) = true;
}

const wl_callback_listener kCallbackListener = {onDone};

}  // namespace

WaylandConnection::WaylandConnection(wl_display* display) : display_(display) {}

WaylandConnection::~WaylandConnection() {
    // A compositor that finds the connection closed may drop what arrived with the hangup
    // unread (libwayland's server looks at the hangup first): the last key releases would be
    // lost, and KWin keeps a lost client's keys down. So it is given the time to handle them.
    if (failure_ == 0) {
        roundtrip();
    }
    if (registry_ != nullptr) {
        wl_registry_destroy(registry_);
    }
    wl_display_disconnect(display_);
}

std::unique_ptr<WaylandConnection> WaylandConnection::open(const std::string& name,
                                                           std::string& why) {
    wl_log_set_handler_client(quietLog);
    const std::string shown = !name.empty() ? name : "wayland-0";
    wl_display* display = wl_display_connect(shown.c_str());
    if (display == nullptr) {
        why = "cannot connect to the Wayland compositor '" + shown + "' (" + std::strerror(errno) +
              ")";
        return nullptr;
    }
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display));
    connection->registry_ = wl_display_get_registry(display);
    wl_registry_add_listener(connection->registry_, &kRegistryListener, &connection->globals_);
    if (!connection->roundtrip()) {
        why = "the Wayland compositor '" + shown + "' failed: " + connection->error();
        return nullptr;
    }
    return connection;
}

const WaylandConnection::Global* WaylandConnection::find(const char* interface) const {
    for (const Global& global : globals_) {
        if (global.interface == interface) {
            return &global;
        }
    }
    return nullptr;
}

void* WaylandConnection::bind(const Global& global, const wl_interface* interface,
                              std::uint32_t version) {
    return wl_registry_bind(registry_, global.name, interface, std::min(global.version, version));
}

// Reads what the compositor sent, waiting at most timeoutMs for it, and dispatches it. False
// when the connection broke; the cause is kept for error().
bool WaylandConnection::readAvailable(int timeoutMs) {
    const auto fail = [this] {
        const int code = wl_display_get_error(display_);
        failure_ = code != 0 ? code : (errno != 0 ? errno : EPIPE);
        return false;
    };
    // A request that found the socket full has already made libwayland give the connection
    // up (with errno EAGAIN, which below would mean only "busy").
    if (wl_display_get_error(display_) != 0) {
        return fail();
    }
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            return fail();
        }
    }
    // Never waits: a compositor too busy to read leaves the rest queued (EAGAIN).
    errno = 0;
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display_);
        return fail();
    }
    pollfd pfd{wl_display_get_fd(display_), POLLIN, 0};
    int ready;
    do {
        ready = poll(&pfd, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        wl_display_cancel_read(display_);
        return ready == 0 || fail();
    }
    errno = 0;
    if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0) {
        return fail();
    }
    return true;
}

bool WaylandConnection::roundtrip() {
    bool done = false;
    wl_callback* callback = wl_display_sync(display_);
    wl_callback_add_listener(callback, &kCallbackListener, &done);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
    bool ok = failure_ == 0;
    while (!done && ok) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            timedOut_ = true;
            break;
        }
        ok = readAvailable(static_cast<int>(left));
    }
    wl_callback_destroy(callback);
    return done && failure_ == 0;
}

bool WaylandConnection::flush() {
    return failure_ == 0 && readAvailable(0);
}

std::string WaylandConnection::error() const {
    const int code = failure_ != 0 ? failure_ : wl_display_get_error(display_);
    if (code == EPROTO) {
        const wl_interface* interface = nullptr;
        std::uint32_t id = 0;
        const std::uint32_t protocolCode = wl_display_get_protocol_error(display_, &interface, &id);
        return std::string("it refused a request (protocol error ") + std::to_string(protocolCode) +
               " on " + (interface != nullptr ? interface->name : "an object") + ")";
    }
    if (code == EAGAIN) {
        return "it stopped reading what was sent";
    }
    if (code == EPIPE || code == ECONNRESET) {
        return "it closed the connection";
    }
    if (code != 0) {
        return std::strerror(code);
    }
    return timedOut_ ? "no answer within a second" : "";
}

}  // namespace camsteer
