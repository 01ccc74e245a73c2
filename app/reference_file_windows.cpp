#include <windows.h>

#include "app/reference_file.hpp"
#include "platform/process/quoted_name.hpp"
#include "platform/process/system_message.hpp"

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
