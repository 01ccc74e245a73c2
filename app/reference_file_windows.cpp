#include <windows.h>

#include <atomic>

#include "app/reference_file.hpp"
#include "platform/process/quoted_name.hpp"

namespace camsteer {

// The decoders' lines go to standard error as they come: Windows has no anonymous in-memory
// file to hold them in, and they are rare (a damaged picture's warnings).
HeldBackStderr::HeldBackStderr() = default;

std::string HeldBackStderr::release() {
    return std::string();
}

void HeldBackStderr::closeAll() {}

std::string refusalBeforeReading(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info)) {
        switch (::GetLastError()) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
            case ERROR_INVALID_NAME:
                return "no such file";
            case ERROR_ACCESS_DENIED:
                return "permission denied; you may not read it";
            default:
                return "cannot read it (Windows error " + std::to_string(::GetLastError()) + ")";
        }
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return "it is a directory, not a picture file";
    }
    if (info.nFileSizeHigh == 0 && info.nFileSizeLow == 0) {
        return "the file is empty";
    }
    // A device name ("CON", "NUL") is no file: opening it as one shows what it is.
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return ::GetLastError() == ERROR_ACCESS_DENIED ? "permission denied; you may not read it"
                                                       : "no such file";
    }
    const bool regular = ::GetFileType(file) == FILE_TYPE_DISK;
    ::CloseHandle(file);
    return regular ? std::string() : "it is not a regular file";
}

namespace {

std::string systemMessage(DWORD error) {
    char text[256];
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               error, 0, text, sizeof(text), nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) {
        --n;
    }
    return n > 0 ? std::string(text, n) : "Windows error " + std::to_string(error);
}

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

bool isFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Every missing folder of `dir`, either separator; a drive ("C:") and a share's server and name
// ("\\server\share") are none to make.
bool makeFolders(const std::string& dir, std::string& why) {
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

}  // namespace

bool writeFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes,
                         std::string& why) {
    size_t separator = path.size();
    while (separator > 0 && !isSeparator(path[separator - 1])) {
        --separator;
    }
    const std::string dir = path.substr(0, separator);  // with its separator; "" for here
    if (separator > 1 && !makeFolders(path.substr(0, separator - 1), why)) {
        return false;
    }
    // A name of our own beside the picture, so the move stays on one volume.
    static std::atomic<int> counter{0};
    const std::string temporary = dir + "." + path.substr(separator) + "." +
                                  std::to_string(::GetCurrentProcessId()) + "." +
                                  std::to_string(counter++) + ".tmp";
    const HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = "cannot write " + quotedName(path) + ": " + systemMessage(::GetLastError());
        return false;
    }
    DWORD written = 0;
    bool ok =
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && ::FlushFileBuffers(file);
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

bool readFileStart(const std::string& path, size_t limit, std::string& text, std::string& problem) {
    text.clear();
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            problem = "cannot be read: " + systemMessage(error);
        }
        return false;
    }
    bool ok = ::GetFileType(file) == FILE_TYPE_DISK;
    if (!ok) {
        problem = "is not a file";
    } else {
        text.resize(limit);
        size_t got = 0;
        DWORD n = 0;
        while (got < text.size() &&
               (ok = ::ReadFile(file, &text[got], static_cast<DWORD>(text.size() - got), &n,
                                nullptr)) &&
               n > 0) {
            got += n;
        }
        if (!ok) {
            problem = "cannot be read: " + systemMessage(::GetLastError());
            got = 0;
        }
        text.resize(got);
    }
    ::CloseHandle(file);
    return ok;
}

}  // namespace camsteer
