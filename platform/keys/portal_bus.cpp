#include "platform/keys/portal_bus.hpp"

#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace camsteer {

namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr const char* kSession = "org.freedesktop.portal.Session";
constexpr std::uint64_t kCallTimeoutUs = 5'000'000;

std::string errorText(const sd_bus_error& error, int r) {
    return error.message != nullptr ? error.message : std::strerror(-r);
}

// Reads the (u a{sv}) of a Response signal into the answer its userdata points to.
int onResponse(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* answer = static_cast<PortalAnswer*>(userdata);
    answer->arrived = true;
    if (sd_bus_message_read(message, "u", &answer->response) < 0 ||
        sd_bus_message_enter_container(message, 'a', "{sv}") < 0) {
        answer->response = 2;
        return 0;
    }
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* key = nullptr;
        char type = 0;
        const char* contents = nullptr;
        if (sd_bus_message_read(message, "s", &key) < 0 ||
            sd_bus_message_peek_type(message, &type, &contents) < 0 || contents == nullptr) {
            break;
        }
        const std::string kind = contents;
        const char* text = nullptr;
        std::uint32_t number = 0;
        if ((kind == "s" || kind == "o") &&
            sd_bus_message_read(message, "v", contents, &text) >= 0) {
            answer->strings[key] = text;
        } else if (kind == "u" && sd_bus_message_read(message, "v", "u", &number) >= 0) {
            answer->numbers[key] = number;
        } else if (sd_bus_message_skip(message, "v") < 0) {
            break;
        }
        sd_bus_message_exit_container(message);
    }
    return 0;
}

int onClosed(sd_bus_message*, void* userdata, sd_bus_error*) {
    *static_cast<bool*>(userdata) = true;
    return 0;
}

}  // namespace

std::unique_ptr<PortalBus> PortalBus::open(std::string& why) {
    sd_bus* bus = nullptr;
    int r = sd_bus_open_user(&bus);
    if (r < 0) {
        why = std::string("no session bus (") + std::strerror(-r) +
              "): start camsteer inside the desktop session";
        return nullptr;
    }
    std::unique_ptr<PortalBus> portal(new PortalBus(bus));
    // A portal the bus still has to start may take a moment, but start-up must not hang on it.
    sd_bus_set_method_call_timeout(bus, kCallTimeoutUs);
    const char* unique = nullptr;
    if (sd_bus_get_unique_name(bus, &unique) < 0 || unique == nullptr || unique[0] != ':') {
        why = "the session bus gave no name to this connection";
        return nullptr;
    }
    portal->sender_ = unique + 1;
    std::replace(portal->sender_.begin(), portal->sender_.end(), '.', '_');
    sd_bus_error error = SD_BUS_ERROR_NULL;
    r = sd_bus_get_property_trivial(bus, kPortal, kPortalPath, kRemoteDesktop, "version", &error,
                                    'u', &portal->version_);
    if (r >= 0) {
        r = sd_bus_get_property_trivial(bus, kPortal, kPortalPath, kRemoteDesktop,
                                        "AvailableDeviceTypes", &error, 'u', &portal->deviceTypes_);
    }
    if (r < 0) {
        why = "the desktop offers no remote-desktop portal (" + errorText(error, r) +
              "; GNOME and KDE Plasma have one in xdg-desktop-portal-gnome or -kde)";
        sd_bus_error_free(&error);
        return nullptr;
    }
    return portal;
}

PortalBus::~PortalBus() {
    sd_bus_slot_unref(closedSlot_);
    sd_bus_flush_close_unref(bus_);
}

bool PortalBus::waitFor(const bool& done, std::chrono::steady_clock::time_point deadline,
                        int wakeFd, std::string& why) {
    while (!done) {
        const int r = sd_bus_process(bus_, nullptr);
        if (r < 0) {
            why = std::string("lost the session bus: ") + std::strerror(-r);
            return false;
        }
        if (r > 0) {
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            why = "the desktop portal did not answer";
            return false;
        }
        pollfd fds[2] = {{sd_bus_get_fd(bus_), static_cast<short>(sd_bus_get_events(bus_)), 0},
                         {wakeFd, POLLIN, 0}};
        std::uint64_t busTimeout = UINT64_MAX;
        sd_bus_get_timeout(bus_, &busTimeout);
        int timeout = static_cast<int>(std::min<long long>(left.count(), 1000));
        if (busTimeout == 0) {
            timeout = 0;
        }
        if (::poll(fds, wakeFd >= 0 ? 2 : 1, timeout) < 0 && errno != EINTR) {
            why = std::string("cannot wait for the desktop portal: ") + std::strerror(errno);
            return false;
        }
        if (wakeFd >= 0 && (fds[1].revents & POLLIN) != 0) {
            why = "stopped";
            return false;
        }
    }
    return true;
}

PortalAnswer PortalBus::request(const char* method, const std::string& session, const char* text,
                                PortalOptions options,
                                std::chrono::steady_clock::time_point deadline, int wakeFd,
                                std::string& why) {
    PortalAnswer answer;
    const std::string token =
        "camsteer" + std::to_string(::getpid()) + "_" + std::to_string(++tokens_);
    options.strings["handle_token"] = token;
    // The request's path is known before the call, so its Response cannot come unheard.
    const std::string path = std::string(kPortalPath) + "/request/" + sender_ + "/" + token;
    sd_bus_slot* slot = nullptr;
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_match_signal(bus_, &slot, kPortal, path.c_str(),
                                "org.freedesktop.portal.Request", "Response", onResponse, &answer);
    if (r >= 0) {
        r = sd_bus_message_new_method_call(bus_, &call, kPortal, kPortalPath, kRemoteDesktop,
                                           method);
    }
    if (r >= 0 && !session.empty()) {
        r = sd_bus_message_append(call, "o", session.c_str());
    }
    if (r >= 0 && text != nullptr) {
        r = sd_bus_message_append(call, "s", text);
    }
    r = r < 0 ? r : sd_bus_message_open_container(call, 'a', "{sv}");
    for (const auto& [key, value] : options.strings) {
        r = r < 0 ? r : sd_bus_message_append(call, "{sv}", key.c_str(), "s", value.c_str());
    }
    for (const auto& [key, value] : options.numbers) {
        r = r < 0 ? r : sd_bus_message_append(call, "{sv}", key.c_str(), "u", value);
    }
    r = r < 0 ? r : sd_bus_message_close_container(call);
    r = r < 0 ? r : sd_bus_call(bus_, call, kCallTimeoutUs, &error, &reply);
    const char* handle = nullptr;
    if (r >= 0 && sd_bus_message_read(reply, "o", &handle) >= 0 && path != handle) {
        // A portal older than the request-path convention: follow the path it named.
        sd_bus_slot_unref(slot);
        slot = nullptr;
        r = sd_bus_match_signal(bus_, &slot, kPortal, handle, "org.freedesktop.portal.Request",
                                "Response", onResponse, &answer);
    }
    if (r < 0) {
        why = std::string("the desktop portal refused ") + method + ": " + errorText(error, r);
    } else if (!waitFor(answer.arrived, deadline, wakeFd, why)) {
        answer.arrived = false;
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_slot_unref(slot);
    return answer;
}

bool PortalBus::notifyKey(const std::string& session, int evdevCode, bool down) {
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &call, kPortal, kPortalPath, kRemoteDesktop,
                                           "NotifyKeyboardKeycode");
    r = r < 0 ? r
              : sd_bus_message_append(call, "oa{sv}iu", session.c_str(), 0, evdevCode,
                                      down ? 1u : 0u);
    r = r < 0 ? r : sd_bus_message_set_expect_reply(call, 0);
    r = r < 0 ? r : sd_bus_send(bus_, call, nullptr);
    sd_bus_message_unref(call);
    return r >= 0;
}

bool PortalBus::flush() {
    int r = sd_bus_flush(bus_);
    while (r >= 0 && (r = sd_bus_process(bus_, nullptr)) > 0) {
    }
    return r >= 0;
}

void PortalBus::watchSession(const std::string& session) {
    sd_bus_slot_unref(closedSlot_);
    closedSlot_ = nullptr;
    closed_ = false;
    sd_bus_match_signal(bus_, &closedSlot_, kPortal, session.c_str(), kSession, "Closed", onClosed,
                        &closed_);
}

void PortalBus::closeSession(const std::string& session) {
    constexpr std::uint64_t kCloseTimeoutUs = 1'000'000;
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(bus_, &call, kPortal, session.c_str(), kSession, "Close") >=
        0) {
        sd_bus_call(bus_, call, kCloseTimeoutUs, nullptr, nullptr);
    }
    sd_bus_message_unref(call);
}

}  // namespace camsteer
