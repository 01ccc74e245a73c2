#include <windows.h>

#include <atomic>
#include <string>

#include "platform/files/file_write.hpp"
#include "platform/process/quoted_name.hpp"
#include "platform/process/system_message.hpp"

namespace camsteer {

namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

bool isFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

// Either separator; a drive ("C:") and a share's server and name ("\\server\share") are none
// to make. Windows gives a new folder or file the access of the folder it is made in: `mode`
// has no counterpart here.
bool makeFolders(const std::string& dir, unsigned /*mode*/, std::string& why) {
    const bool share = dir.size() > 1 && isSeparator(dir[0]) && isSeparator(dir[1]);
    int separators = 0;
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i < dir.size() && !isSeparator(dir[i])) {
            continue;
        }
        ++separators;
        const std::string part = dir.substr(0, i);
        if (part.back() == ':' || isSeparator(part.back()) || (share && separators <= 3) ||
            isFolder(part)) {
            continue;
        }
        if (!::CreateDirectoryA(part.c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS) {
            why = "cannot create the folder " + quotedName(part) + ": " +
                  systemMessage(::GetLastError());
            return false;
        }
    }
    return true;
}

bool replaceFile(const std::string& path, const void* bytes, size_t size, unsigned /*mode*/,
                 std::string& why) {
    size_t separator = path.size();
    while (separator > 0 && !isSeparator(path[separator - 1])) {
        --separator;
    }
    // A name of our own beside the file, so the move stays on one volume.
    static std::atomic<int> counter{0};
    const std::string temporary = path.substr(0, separator) + "." + path.substr(separator) + "." +
                                  std::to_string(::GetCurrentProcessId()) + "." +
                                  std::to_string(counter++) + ".tmp";
    const HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = "cannot write " + quotedName(path) + ": " + systemMessage(::GetLastError());
        return false;
    }
    DWORD written = 0;
    bool ok = ::WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) &&
              written == size && ::FlushFileBuffers(file);
    DWORD error = ::GetLastError();
    ok = ::CloseHandle(file) && ok;
    if (ok && ::MoveFileExA(temporary.c_str(), path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    if (ok) {
        error = ::GetLastError();
    }
    why = "cannot write " + quotedName(path) + ": " + systemMessage(error);
    ::DeleteFileA(temporary.c_str());
    return false;
}

bool writeFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes,
                         std::string& why) {
    size_t separator = path.size();
    while (separator > 0 && !isSeparator(path[separator - 1])) {
        --separator;
    }
    if (separator > 1 && !makeFolders(path.substr(0, separator - 1), 0777, why)) {
        return false;
    }
    return replaceFile(path, bytes.data(), bytes.size(), 0666, why);
}

}  // namespace camsteer
