#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/keys/key_watchdog.hpp"
#include "platform/process/program_name.hpp"

namespace camsteer {

namespace {

// The running watchdog's pipe, for tellKeyWatchdogToRelease(); null while none runs.
std::atomic<HANDLE> gRunningPipe{nullptr};

std::string lastError(const char* what) {
    return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

std::wstring wide(const std::string& text) {
    std::wstring out(text.size() + 1, L'\0');
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    return out;
}

std::wstring ownExecutable() {
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(n);
    return path;
}

HANDLE pipeOf(int fd) {
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// Waits at most half a second for a child that has been told to end, then lets it go.
void reap(HANDLE process) {
    if (process != nullptr) {
        WaitForSingleObject(process, 500);
        CloseHandle(process);
    }
}

// The pipe the held keys go down: a named pipe whose reading end (for the watchdog) allows
// overlapped reads, so the watchdog can wait for a byte and for this process's end at once.
bool makeKeyPipe(HANDLE& readEnd, HANDLE& writeEnd, std::string& why) {
    static std::atomic<unsigned> serial{0};
    const std::wstring name = L"\\\\.\\pipe\\camsteer-keys-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(serial++);
    readEnd = CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 4096, 0,
        nullptr);
    if (readEnd == INVALID_HANDLE_VALUE) {
        why = "cannot make a pipe for the key watchdog: " + lastError("CreateNamedPipe");
        return false;
    }
    writeEnd = CreateFileW(name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (writeEnd == INVALID_HANDLE_VALUE) {
        why = "cannot make a pipe for the key watchdog: " + lastError("CreateFile");
        CloseHandle(readEnd);
        return false;
    }
    return true;
}

HANDLE inheritable(HANDLE handle) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                    DUPLICATE_SAME_ACCESS);
    return copy;
}

}  // namespace

bool KeyWatchdog::spawn(std::string& why) {
    HANDLE keysRead = nullptr;
    HANDLE keysWrite = nullptr;
    if (!makeKeyPipe(keysRead, keysWrite, why)) {
        return false;
    }
    HANDLE newsRead = nullptr;
    HANDLE newsWrite = nullptr;
    if (!CreatePipe(&newsRead, &newsWrite, nullptr, 4096)) {
        why = "cannot make a pipe for the key watchdog: " + lastError("CreatePipe");
        CloseHandle(keysRead);
        CloseHandle(keysWrite);
        return false;
    }
    // Only these three are inherited, as copies made for the child: the pipe ends it uses and
    // a handle of this process, which it waits on. Nothing else this process holds is
    // inheritable, so the child keeps no other handle alive.
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                    SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0);
    HANDLE childIn = inheritable(keysRead);
    HANDLE childOut = inheritable(newsWrite);
    CloseHandle(keysRead);
    CloseHandle(newsWrite);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    SetHandleInformation(nul, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = childIn;
    startup.StartupInfo.hStdOutput = childOut;
    startup.StartupInfo.hStdError = nul;
    // And, where the system can, only these even should another part of this process have made
    // a handle inheritable.
    HANDLE handed[] = {self, childIn, childOut, nul};
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<char> list(listSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    if (InitializeProcThreadAttributeList(attributes, 1, 0, &listSize)) {
        if (UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed,
                                      sizeof(handed), nullptr, nullptr)) {
            startup.lpAttributeList = attributes;
        }
    }
    const std::wstring executable = program_ != nullptr ? wide(program_) : ownExecutable();
    std::wstring commandLine = L"\"" + executable + L"\" " + wide(kKeyWatchdogArgument) + L" \"" +
                               wide(backendName_) + L"\" " +
                               std::to_wstring(reinterpret_cast<std::uintptr_t>(self)) + L" \"" +
                               wide(bindings_.text()) + L"\"";
    // No console: Ctrl-C, Ctrl-Break and closing the console are meant for the program, and
    // out of the program's job, whose end would otherwise end the watchdog with it.
    PROCESS_INFORMATION process{};
    BOOL started = FALSE;
    for (const DWORD jobFlag : {DWORD{CREATE_BREAKAWAY_FROM_JOB}, DWORD{0}}) {
        started = CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                 DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | jobFlag |
                                     (startup.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0),
                                 nullptr, nullptr, &startup.StartupInfo, &process);
        if (started) {
            break;
        }
    }
    const std::string failure = started ? "" : lastError("CreateProcess");
    if (startup.lpAttributeList != nullptr) {
        DeleteProcThreadAttributeList(attributes);
    }
    for (HANDLE h : {self, childIn, childOut, nul}) {
        CloseHandle(h);
    }
    if (!started) {
        CloseHandle(keysWrite);
        CloseHandle(newsRead);
        why = "cannot start the key watchdog: " + failure;
        return false;
    }
    CloseHandle(process.hThread);
    const int writeFd = _open_osfhandle(reinterpret_cast<intptr_t>(keysWrite), _O_BINARY);
    if (fd_ < 0) {
        fd_ = writeFd;
    } else {
        // In place of the old pipe, on the same descriptor.
        _dup2(writeFd, fd_);
        _close(writeFd);
        SetHandleInformation(pipeOf(fd_), HANDLE_FLAG_INHERIT, 0);
    }
    if (news_ >= 0) {
        _close(news_);
    }
    news_ = _open_osfhandle(reinterpret_cast<intptr_t>(newsRead), _O_BINARY);
    reap(reinterpret_cast<HANDLE>(process_));
    process_ = reinterpret_cast<std::intptr_t>(process.hProcess);
    pid_ = static_cast<long>(process.dwProcessId);
    ready_ = false;
    cannotReach_ = false;
    reason_.clear();
    gRunningPipe = pipeOf(fd_);  // for tellKeyWatchdogToRelease
    return true;
}

bool KeyWatchdog::restart(std::string& why) {
    return spawn(why);  // the old one ended already, and is reaped there
}

KeyWatchdog::News KeyWatchdog::takeNews() {
    News news;
    const HANDLE pipe = pipeOf(news_);
    DWORD available = 0;
    bool ended = false;
    char bytes[256];
    while (true) {
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            ended = true;  // broken: the watchdog has ended and everything it said is read
            break;
        }
        DWORD n = 0;
        if (available == 0 || !ReadFile(pipe, bytes, sizeof(bytes), &n, nullptr) || n == 0) {
            break;
        }
        hear(bytes, static_cast<size_t>(n), news);
    }
    news.ended = ended;
    hear(bytes, 0, news);
    return news;
}

KeyWatchdog::~KeyWatchdog() {
    if (gRunningPipe == pipeOf(fd_)) {
        gRunningPipe = nullptr;
    }
    _close(fd_);
    _close(news_);
    reap(reinterpret_cast<HANDLE>(process_));
}

void tellKeyWatchdogToRelease() {
    const HANDLE pipe = gRunningPipe;
    const char none = 0;
    DWORD written = 0;
    if (pipe != nullptr) {
        WriteFile(pipe, &none, 1, &written, nullptr);  // a broken pipe: it sees that soon enough
    }
}

}  // namespace camsteer
