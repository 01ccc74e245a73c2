#pragma once

#include <string>

#include "platform/session/desktop_session.hpp"

namespace camsteer {

// True when the window system of the toolkit platform `platform` (a QT_QPA_PLATFORM value; X11
// when empty) answers in the session; otherwise false with a one-line reason. Checked before any
// window is made, so the toolkit never aborts the process.
//
// The X11 check's connection stays open until releaseDisplayProbe(): an X server whose last
// client leaves resets and refuses connections meanwhile, which would fail the key output's and
// the toolkit's own connections made right after.
bool windowSystemReachable(const std::string& platform, const DesktopSession& session,
                           std::string& why);

// Closes the X11 check's connection; call once the toolkit and the key output hold theirs.
void releaseDisplayProbe();

}  // namespace camsteer
