#pragma once

#include <string>

#include "platform/session/desktop_session.hpp"

namespace camsteer {

// Where the desktop's single-use restore token for the remote-desktop portal is kept between
// runs: camsteer/portal-restore-token in the session's state folder; empty when there is none.
std::string restoreTokenPath(const DesktopSession& session);

// The token kept at `path`; empty when there is none or what is there is not a token.
std::string readRestoreToken(const std::string& path);

// Keeps `token` at `path` for the next run, replacing what was there in one step (a file only
// this user may read, renamed into place); an empty token removes the file. The folders are
// made as needed. False with `why` set when that fails.
bool keepRestoreToken(const std::string& path, const std::string& token, std::string& why);

}  // namespace camsteer
