#pragma once

#include <string>

namespace camsteer {

// Where the desktop's single-use restore token for the remote-desktop portal is kept between
// runs: $XDG_STATE_HOME/camsteer/portal-restore-token, or ~/.local/state/camsteer/... when
// XDG_STATE_HOME is unset or not absolute; empty when neither it nor HOME says where.
std::string restoreTokenPath();

// The token kept at `path`; empty when there is none or what is there is not a token.
std::string readRestoreToken(const std::string& path);

// Keeps `token` at `path` for the next run, replacing what was there in one step (a file only
// this user may read, renamed into place); an empty token removes the file. The folders are
// made as needed. False with *reason set when that fails.
bool keepRestoreToken(const std::string& path, const std::string& token, std::string* reason);

}  // namespace camsteer
