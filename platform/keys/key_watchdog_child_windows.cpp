// The watchdog process itself on Windows: what runKeyWatchdogIfAsked runs. It waits on this
// program's process handle and on the pipe of held keys at once, so it sees the program's end
// however it comes (TerminateProcess, a crash, the Task Manager) and releases what was down.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/keys/key_watchdog.hpp"
#include "platform/keys/keyboard_sendinput.hpp"
#include "platform/process/program_name.hpp"

namespace camsteer {

namespace {

// After the program's end, how long bytes it wrote may still take to be read before the
// watchdog releases what it knows: the pipe breaks at once unless its write end lives on in
// another process.
constexpr DWORD kDrainMs = 200;

void release(Keyboard& keyboard, std::uint8_t held) {
    if (held == 0) {
        return;
    }
    keyboard.keys(KeySet::fromBits(held), false);
    keyboard.flush();
}

void note(HANDLE news, char what) {
    DWORD written = 0;
    WriteFile(news, &what, 1, &written, nullptr);
}

// What the pipe said so far; the same reading of it as the Linux watchdog's.
struct Heard {
    std::uint8_t held = 0;
    // What was down before the latest 0 byte, released once that 0 is the latest word.
    std::uint8_t beforeZero = 0;
    // What 0 bytes released since the last non-zero byte: a 0 from a crash handler may come
    // between another thread's report of a press and the press itself.
    std::uint8_t releasedByZero = 0;

    void take(Keyboard& keyboard, const std::uint8_t* bytes, DWORD n) {
        for (DWORD i = 0; i < n; ++i) {
            beforeZero = bytes[i] == 0 ? static_cast<std::uint8_t>(beforeZero | held) : 0;
            releasedByZero = bytes[i] == 0 ? releasedByZero : 0;
            held = bytes[i];
        }
        if (n > 0 && held == 0) {
            release(keyboard, beforeZero);
            releasedByZero |= beforeZero;
            beforeZero = 0;
        }
    }
};

int runWatchdog(const std::string& backendName, const KeyBindings& bindings, HANDLE parent) {
    const HANDLE keys = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE news = GetStdHandle(STD_OUTPUT_HANDLE);
    if (keys == nullptr || keys == INVALID_HANDLE_VALUE || GetFileType(keys) != FILE_TYPE_PIPE ||
        WaitForSingleObject(parent, 0) == WAIT_FAILED) {
        std::fprintf(stderr, "%s: %s is for the program's own use\n", programName(),
                     kKeyWatchdogArgument);
        return 2;
    }
    std::string why = "no such key backend";
    std::unique_ptr<Keyboard> keyboard =
        backendName == "SendInput" ? openSendInputKeyboard(bindings, why) : nullptr;
    if (!keyboard) {
        note(news, kWatchdogCannotReach);
        DWORD written = 0;
        WriteFile(news, why.data(), static_cast<DWORD>(why.size()), &written, nullptr);
        return 1;
    }
    note(news, kWatchdogReady);

    Heard heard;
    OVERLAPPED reading{};
    reading.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::uint8_t bytes[64];
    bool parentGone = false;
    while (true) {
        ResetEvent(reading.hEvent);
        DWORD n = 0;
        if (!ReadFile(keys, bytes, sizeof(bytes), &n, &reading)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                break;  // the pipe broke: the program ended and everything it said is read
            }
            const HANDLE waits[] = {reading.hEvent, parent};
            const DWORD woke = WaitForMultipleObjects(parentGone ? 1 : 2, waits, FALSE,
                                                      parentGone ? kDrainMs : INFINITE);
            parentGone = parentGone || woke == WAIT_OBJECT_0 + 1;
            if (woke != WAIT_OBJECT_0) {
                CancelIo(keys);
            }
            if (!GetOverlappedResult(keys, &reading, &n, TRUE)) {
                // Broken, or nothing came within the drain time after the program's end; read
                // on only when the wait was cut short by that end.
                if (GetLastError() != ERROR_OPERATION_ABORTED || woke != WAIT_OBJECT_0 + 1) {
                    break;
                }
            }
        }
        heard.take(*keyboard, bytes, n);
    }
    release(*keyboard, heard.held | heard.releasedByZero);
    return 0;
}

}  // namespace

bool runKeyWatchdogIfAsked(int argc, char** argv, int& status) {
    KeyBindings bindings;
    status = readKeyWatchdogLine(argc, argv, bindings);
    if (status == 0) {
        // The program's handle, inherited under the value it gave.
        status = runWatchdog(argv[2], bindings,
                             reinterpret_cast<HANDLE>(std::strtoull(argv[3], nullptr, 10)));
    }
    return status >= 0;
}

}  // namespace camsteer
