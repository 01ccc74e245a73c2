#pragma once

// A Wayland compositor of the tests' own that offers only what the key backends bind (a seat,
// the virtual-keyboard manager, KDE's fake input at a chosen version) and records every request
// they make, as text: "keymap 1 ok", "key 103 1", "authenticate Camsteer", "keyboard_key 103 1".

#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-server.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake-input-server-protocol.h"
#include "virtual-keyboard-unstable-v1-server-protocol.h"

namespace camsteer::test {

class FakeCompositor {
  public:
    struct Offer {
        bool virtualKeyboard = true;
        int fakeInputVersion = 4;  // 0: not offered
    };

    // Listens on `path` (an absolute socket path, usable as WAYLAND_DISPLAY).
    FakeCompositor(const std::string& path, Offer offer) : path_(path) {
        display_ = wl_display_create();
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        unlink(path.c_str());
        ok_ = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              listen(fd, 8) == 0 && wl_display_add_socket_fd(display_, fd) == 0;
        wl_global_create(display_, &wl_seat_interface, 1, this, bindSeat);
        if (offer.virtualKeyboard) {
            wl_global_create(display_, &zwp_virtual_keyboard_manager_v1_interface, 1, this,
                             bindManager);
        }
        if (offer.fakeInputVersion > 0) {
            wl_global_create(display_, &org_kde_kwin_fake_input_interface, offer.fakeInputVersion,
                             this, bindFakeInput);
        }
        thread_ = std::thread([this] {
            wl_event_loop* loop = wl_display_get_event_loop(display_);
            while (!stop_) {
                wl_event_loop_dispatch(loop, 20);
                wl_display_flush_clients(display_);
                if (dropClients_.exchange(false)) {
                    wl_client* client = nullptr;
                    wl_list* clients = wl_display_get_client_list(display_);
                    while (!wl_list_empty(clients)) {
                        client = wl_client_from_link(clients->next);
                        wl_client_destroy(client);
                    }
                }
            }
        });
    }
    ~FakeCompositor() {
        stop_ = true;
        thread_.join();
        wl_display_destroy_clients(display_);
        wl_display_destroy(display_);
        unlink(path_.c_str());
    }
    bool ok() const { return ok_; }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> guard(lock_);
        return requests_;
    }
    // Ends every client's connection, as a compositor going away would.
    void dropClients() { dropClients_ = true; }

  private:
    void record(const std::string& request) {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(request);
    }
    static FakeCompositor* of(wl_resource* resource) {
        return static_cast<FakeCompositor*>(wl_resource_get_user_data(resource));
    }
    static wl_resource* make(wl_client* client, const wl_interface* interface, uint32_t version,
                             uint32_t id, const void* implementation, void* data) {
        wl_resource* resource = wl_resource_create(client, interface, version, id);
        wl_resource_set_implementation(resource, implementation, data, nullptr);
        return resource;
    }
    static void destroy(wl_client*, wl_resource* resource) { wl_resource_destroy(resource); }

    static void bindSeat(wl_client* client, void* data, uint32_t version, uint32_t id) {
        static const struct wl_seat_interface seat = {
            [](wl_client*, wl_resource*, uint32_t) {}, [](wl_client*, wl_resource*, uint32_t) {},
            [](wl_client*, wl_resource*, uint32_t) {}, destroy};
        make(client, &wl_seat_interface, version, id, &seat, data);
    }

    static void bindManager(wl_client* client, void* data, uint32_t version, uint32_t id) {
        static const struct zwp_virtual_keyboard_v1_interface keyboard = {
            [](wl_client*, wl_resource* r, uint32_t format, int32_t fd, uint32_t size) {
                // The keymap must be readable from the descriptor, as a compositor maps it.
                void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
                const bool good = map != MAP_FAILED &&
                                  std::strncmp(static_cast<char*>(map), "xkb_keymap", 10) == 0;
                if (map != MAP_FAILED) {
                    munmap(map, size);
                }
                close(fd);
                of(r)->record("keymap " + std::to_string(format) + (good ? " ok" : " unreadable"));
            },
            [](wl_client*, wl_resource* r, uint32_t, uint32_t key, uint32_t state) {
                of(r)->record("key " + std::to_string(key) + " " + std::to_string(state));
            },
            [](wl_client*, wl_resource* r, uint32_t, uint32_t, uint32_t, uint32_t) {
                of(r)->record("modifiers");
            },
            destroy};
        static const struct zwp_virtual_keyboard_manager_v1_interface manager = {
            [](wl_client* c, wl_resource* r, wl_resource*, uint32_t keyboardId) {
                of(r)->record("create_virtual_keyboard");
                make(c, &zwp_virtual_keyboard_v1_interface, 1, keyboardId, &keyboard, of(r));
            }};
        make(client, &zwp_virtual_keyboard_manager_v1_interface, version, id, &manager, data);
    }

    static void bindFakeInput(wl_client* client, void* data, uint32_t version, uint32_t id) {
        static const struct org_kde_kwin_fake_input_interface input = {
            [](wl_client*, wl_resource* r, const char* application, const char*) {
                of(r)->record(std::string("authenticate ") + application);
            },
            [](wl_client*, wl_resource*, wl_fixed_t, wl_fixed_t) {},
            [](wl_client*, wl_resource*, uint32_t, uint32_t) {},
            [](wl_client*, wl_resource*, uint32_t, wl_fixed_t) {},
            [](wl_client*, wl_resource*, uint32_t, wl_fixed_t, wl_fixed_t) {},
            [](wl_client*, wl_resource*, uint32_t, wl_fixed_t, wl_fixed_t) {},
            [](wl_client*, wl_resource*, uint32_t) {},
            [](wl_client*, wl_resource*) {},
            [](wl_client*, wl_resource*) {},
            [](wl_client*, wl_resource*, wl_fixed_t, wl_fixed_t) {},
            [](wl_client*, wl_resource* r, uint32_t key, uint32_t state) {
                of(r)->record("keyboard_key " + std::to_string(key) + " " + std::to_string(state));
            },
#ifdef ORG_KDE_KWIN_FAKE_INPUT_DESTROY_SINCE_VERSION
            [](wl_client*, wl_resource* r) {
                of(r)->record("destroy");
                wl_resource_destroy(r);
            },
#endif
        };
        make(client, &org_kde_kwin_fake_input_interface, version, id, &input, data);
    }

    std::string path_;
    wl_display* display_ = nullptr;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<bool> dropClients_{false};
    std::mutex lock_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

}  // namespace camsteer::test
