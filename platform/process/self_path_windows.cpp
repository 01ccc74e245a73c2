#include "platform/process/self_path.hpp"

#include <windows.h>

#include <vector>

namespace camsteer {

// The path in the system's code page, as the C library's file functions take it, with '/' for
// '\': the shared code splits paths at '/', and Windows accepts either.
std::string selfPath() {
    std::vector<wchar_t> wide(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
        if (n == 0) {
            return std::string();
        }
        if (n < wide.size()) {
            wide.resize(n);
            break;
        }
        wide.resize(wide.size() * 2);
    }
    for (wchar_t& c : wide) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    const int size = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string path(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), path.data(), size,
                          nullptr, nullptr);
    return path;
}

}  // namespace camsteer
