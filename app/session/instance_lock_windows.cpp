#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/session/instance_lock.hpp"

namespace camsteer {

namespace {

// A desktop session has one keyboard input, so one lock per session: objects in the Local
// namespace are the session's own. The mutex's existence is the lock (Windows removes it with
// its last handle, however the process ends); a small shared memory beside it names the holder.
constexpr wchar_t kLockName[] = L"Local\\camsteer-keys";
constexpr wchar_t kHolderName[] = L"Local\\camsteer-keys-holder";
constexpr DWORD kHolderSize = 128;

std::string holder() {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, kHolderName);
    std::string named = "another camsteer";
    if (mapping != nullptr) {
        if (const auto* text = static_cast<const char*>(
                MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kHolderSize))) {
            unsigned long pid = 0;
            char name[64] = {};
            if (std::sscanf(text, "%lu %63s", &pid, name) == 2) {
                named = std::string(name) + " (pid " + std::to_string(pid) + ")";
            }
            UnmapViewOfFile(text);
        }
        CloseHandle(mapping);
    }
    return named;
}

}  // namespace

bool InstanceLock::take(const char* program, const DesktopSession& /*session*/,
                        std::string& refusal) {
    HANDLE lock = CreateMutexW(nullptr, FALSE, kLockName);
    if (lock == nullptr) {
        refusal = "cannot make sure no other camsteer sends keys on this desktop: error " +
                  std::to_string(GetLastError()) + " making its lock; log off and on again";
        return false;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(lock);
        refusal = holder() +
                  " already sends keys on this desktop; end it first (Escape in its window), "
                  "then start again";
        return false;
    }
    held_.push_back(reinterpret_cast<std::intptr_t>(lock));
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        kHolderSize, kHolderName);
    if (mapping != nullptr) {
        if (auto* text =
                static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kHolderSize))) {
            std::snprintf(text, kHolderSize, "%lu %s", GetCurrentProcessId(), program);
            UnmapViewOfFile(text);
        }
        held_.push_back(reinterpret_cast<std::intptr_t>(mapping));  // kept while the lock is
    }
    return true;
}

InstanceLock::~InstanceLock() {
    for (const std::intptr_t handle : held_) {
        CloseHandle(reinterpret_cast<HANDLE>(handle));
    }
}

}  // namespace camsteer
