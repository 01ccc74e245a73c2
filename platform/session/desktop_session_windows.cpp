#include <cstdlib>

#include "platform/session/desktop_session.hpp"

namespace camsteer {

// One desktop, no display variables: only the user's folder for the program's own files,
// %LOCALAPPDATA%, written with '/' as the paths made from it are.
DesktopSession readDesktopSession() {
    DesktopSession session;
    const char* local = std::getenv("LOCALAPPDATA");
    std::string folder = local != nullptr ? local : "";
    for (char& c : folder) {
        if (c == '\\') {
            c = '/';
        }
    }
    session.dataHome = folder;
    session.stateHome = folder;
    return session;
}

}  // namespace camsteer
