// A Win32 window for the Windows tests to send keys into. It prints one line per key message it
// gets, "down VK SCAN EXTENDED" or "up VK SCAN EXTENDED" (hex, hex, 0 or 1), "focus" and
// "unfocus" as it gains and loses the keyboard focus, and "held MASK" at the start and whenever
// that changes: bit i is set while the desktop has the i-th key of its argument list down
// (GetAsyncKeyState, whichever window has the focus). A click into it gives it the focus. Lines
// are flushed as they are written, for a test reading them from a file.
//
//   camsteer_receiver.exe X Y VK...   (the window's place, and the keys "held?" asks about)

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<int> gWatched;

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

LRESULT CALLBACK onMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP: {
            char line[64];
            const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
            std::snprintf(line, sizeof(line), "%s %02x %02x %d", down ? "down" : "up",
                          static_cast<unsigned>(wParam), static_cast<unsigned>(lParam >> 16 & 0xff),
                          static_cast<int>(lParam >> 24 & 1));
            say(line);
            return 0;
        }
        case WM_SETFOCUS:
            say("focus");
            return 0;
        case WM_KILLFOCUS:
            say("unfocus");
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void CALLBACK lookAtHeldKeys(HWND, UINT, UINT_PTR, DWORD) {
    static unsigned said = ~0u;
    unsigned mask = 0;
    for (size_t i = 0; i < gWatched.size(); ++i) {
        mask |= (GetAsyncKeyState(gWatched[i]) & 0x8000) != 0 ? 1u << i : 0u;
    }
    if (mask != said) {
        said = mask;
        say("held " + std::to_string(mask));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: camsteer_receiver X Y VK...\n", stderr);
        return 2;
    }
    for (int i = 3; i < argc; ++i) {
        gWatched.push_back(static_cast<int>(std::strtol(argv[i], nullptr, 0)));
    }
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = onMessage;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"camsteer_receiver";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"camsteer_receiver", L"receiver", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                std::atoi(argv[1]), std::atoi(argv[2]), 200, 150, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "camsteer_receiver: no window (error %lu)\n", GetLastError());
        return 1;
    }
    lookAtHeldKeys(nullptr, 0, 0, 0);
    SetTimer(nullptr, 0, 20, lookAtHeldKeys);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
