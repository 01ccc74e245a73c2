#include <windows.h>

#include "app/session/window_watch.hpp"

namespace camsteer {

namespace {

bool ownedByThisProcess(HWND window) {
    DWORD process = 0;
    return window != nullptr && ::GetWindowThreadProcessId(window, &process) != 0 &&
           process == ::GetCurrentProcessId();
}

struct Search {
    const std::string* title;
    HWND found;
};

BOOL CALLBACK findOwnWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    char title[256];
    const int length = ::GetWindowTextA(window, title, sizeof(title));
    if (ownedByThisProcess(window) && *search->title == std::string(title, length)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Window handles keep their meaning in 32 bits, so they fit the watch's unsigned fields.
HWND handleOf(unsigned window) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(window));
}

}  // namespace

// Windows has no connection to watch: the run watch asks about the main window and the
// foreground window on each of its turns (a tenth of a second apart at most).
WindowWatch::~WindowWatch() = default;

bool WindowWatch::watch(const std::string& title) {
    Search search{&title, nullptr};
    ::EnumWindows(findOwnWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) {
        return false;
    }
    window_ = static_cast<unsigned>(reinterpret_cast<uintptr_t>(search.found));
    return true;
}

int WindowWatch::fd() const {
    return -1;
}

void WindowWatch::takeEvents() {
    if (window_ == 0) {
        return;
    }
    destroyed_ = destroyed_ || !::IsWindow(handleOf(window_));
    focused_ = focusIsOurs();
}

bool WindowWatch::focusIsOurs() {
    return ownedByThisProcess(::GetForegroundWindow());
}

}  // namespace camsteer
