#include "app/session/window_watch.hpp"

#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace camsteer {

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, std::strlen(name), name), nullptr);
    xcb_atom_t found = XCB_ATOM_NONE;
    if (reply != nullptr) {
        found = reply->atom;
    }
    std::free(reply);
    return found;
}

// The children of `parent`, or none when it has gone.
std::vector<xcb_window_t> children(xcb_connection_t* c, xcb_window_t parent) {
    std::vector<xcb_window_t> found;
    if (xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr)) {
        const xcb_window_t* list = xcb_query_tree_children(tree);
        found.assign(list, list + xcb_query_tree_children_length(tree));
        std::free(tree);
    }
    return found;
}

bool propertyIs(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, const void* value,
                size_t length) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 64), nullptr);
    const bool same = reply != nullptr &&
                      static_cast<size_t>(xcb_get_property_value_length(reply)) == length &&
                      std::memcmp(xcb_get_property_value(reply), value, length) == 0;
    std::free(reply);
    return same;
}

}  // namespace

WindowWatch::~WindowWatch() {
    if (connection_ != nullptr) {
        xcb_disconnect(connection_);
    }
}

bool WindowWatch::watch(const std::string& title) {
    if (connection_ == nullptr) {
        if (display_.empty()) {
            return false;
        }
        connection_ = xcb_connect(display_.c_str(), nullptr);
        if (xcb_connection_has_error(connection_)) {
            xcb_disconnect(connection_);
            connection_ = nullptr;
            return false;
        }
    }
    xcb_connection_t* c = connection_;
    const xcb_atom_t pidAtom = atom(c, "_NET_WM_PID");
    const uint32_t pid = static_cast<uint32_t>(::getpid());
    // Top-level windows are children of the root, or a little deeper under a window manager's
    // frames.
    std::vector<xcb_window_t> level = {xcb_setup_roots_iterator(xcb_get_setup(c)).data->root};
    std::vector<unsigned> ours;
    xcb_window_t main = 0;
    for (int depth = 0; depth < 3; ++depth) {
        std::vector<xcb_window_t> next;
        for (xcb_window_t parent : level) {
            for (xcb_window_t window : children(c, parent)) {
                if (propertyIs(c, window, pidAtom, &pid, sizeof(pid))) {
                    ours.push_back(window);
                    if (main == 0 &&
                        propertyIs(c, window, XCB_ATOM_WM_NAME, title.data(), title.size())) {
                        main = window;
                    }
                }
                next.push_back(window);
            }
        }
        level.swap(next);
    }
    if (main == 0) {
        return false;
    }
    window_ = main;
    ours_ = ours;
    // Focus changes on every window of ours, and the main window's end. Selected before the
    // focus is first read, so no change falls between the two.
    for (unsigned window : ours_) {
        uint32_t mask = XCB_EVENT_MASK_FOCUS_CHANGE;
        if (window == window_) {
            mask |= XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        }
        xcb_generic_error_t* error = xcb_request_check(
            c, xcb_change_window_attributes_checked(c, window, XCB_CW_EVENT_MASK, &mask));
        if (window == window_) {
            destroyed_ = error != nullptr;  // gone between finding and watching it
        }
        std::free(error);
    }
    focused_ = focusIsOurs();
    return true;
}

int WindowWatch::fd() const {
    return window_ != 0 ? xcb_get_file_descriptor(connection_) : -1;
}

void WindowWatch::takeEvents() {
    if (window_ == 0) {
        return;
    }
    if (xcb_connection_has_error(connection_)) {
        window_ = 0;  // the server went away; that ends the run by other ways
        focused_ = false;
        return;
    }
    bool focusMoved = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_DESTROY_NOTIFY &&
            reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window == window_) {
            destroyed_ = true;
        }
        focusMoved = focusMoved || type == XCB_FOCUS_IN || type == XCB_FOCUS_OUT;
        std::free(event);
    }
    // The events only say that the focus moved to or from a window of ours; where it is now is
    // asked once, after the latest of them.
    if (focusMoved) {
        focused_ = focusIsOurs();
    }
}

bool WindowWatch::focusIsOurs() {
    xcb_connection_t* c = connection_;
    xcb_get_input_focus_reply_t* focus =
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    xcb_window_t window = focus != nullptr ? focus->focus : XCB_NONE;
    std::free(focus);
    // None and PointerRoot are no window; a focused window inside one of ours (a toolkit may
    // focus a child) is found by walking up towards the root.
    for (int depth = 0; depth < 8 && window != XCB_NONE && window != XCB_INPUT_FOCUS_POINTER_ROOT;
         ++depth) {
        if (std::find(ours_.begin(), ours_.end(), window) != ours_.end()) {
            return true;
        }
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
        const xcb_window_t parent =
            tree != nullptr && tree->parent != tree->root ? tree->parent : XCB_NONE;
        std::free(tree);
        window = parent;
    }
    return false;
}

}  // namespace camsteer
