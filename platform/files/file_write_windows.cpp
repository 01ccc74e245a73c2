#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "platform/files/file_write.hpp"
#include "platform/process/quoted_name.hpp"

namespace camsteer {

namespace {

std::string windowsError(DWORD error) {
    return "Windows error " + std::to_string(error);
}

}  // namespace

// Windows gives a new file or folder the access of the folder it is made in: `mode` has no
// counterpart there.
bool makeFolders(const std::string& dir, unsigned /*mode*/, std::string& why) {
    for (size_t sep = dir.find_first_of("/\\", 1);; sep = dir.find_first_of("/\\", sep + 1)) {
        const std::string part = dir.substr(0, sep);
        if (!part.empty() && part.back() != ':' && !::CreateDirectoryA(part.c_str(), nullptr)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_ALREADY_EXISTS) {
                why = "cannot create the folder " + quotedName(part) + ": " + windowsError(error);
                return false;
            }
        }
        if (sep == std::string::npos) {
            return true;
        }
    }
}

bool replaceFile(const std::string& path, const void* bytes, size_t size, unsigned /*mode*/,
                 std::string& why) {
    const size_t sep = path.find_last_of("/\\");
    const std::string dir = sep == std::string::npos ? "." : path.substr(0, sep);
    const std::string base = sep == std::string::npos ? path : path.substr(sep + 1);
    // A name of our own beside the file, so the move stays on one volume.
    static std::atomic<int> counter{0};
    const std::string temporary = dir + "\\." + base + "." +
                                  std::to_string(::GetCurrentProcessId()) + "." +
                                  std::to_string(counter++) + ".tmp";
    const HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = "cannot write " + quotedName(path) + ": " + windowsError(::GetLastError());
        return false;
    }
    const char* next = static_cast<const char*>(bytes);
    size_t left = size;
    bool ok = true;
    while (ok && left > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(left, 1u << 30));
        ok = ::WriteFile(file, next, chunk, &written, nullptr) && written > 0;
        next += written;
        left -= written;
    }
    ok = ok && ::FlushFileBuffers(file);
    DWORD error = ok ? 0 : ::GetLastError();
    ::CloseHandle(file);
    if (ok && ::MoveFileExA(temporary.c_str(), path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    if (ok) {
        error = ::GetLastError();
    }
    why = "cannot write " + quotedName(path) + ": " + windowsError(error);
    ::DeleteFileA(temporary.c_str());
    return false;
}

}  // namespace camsteer
