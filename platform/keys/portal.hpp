#pragma once

#include <memory>
#include <string>

#include "platform/keys/keyboard.hpp"

namespace camsteer {

// Key output through the desktop's remote-desktop portal (org.freedesktop.portal.RemoteDesktop
// on the session bus): the way GNOME and KDE Plasma let an ordinary program send input once the
// user consents. Opening makes a session with keyboard access and starts it, which shows the
// desktop's dialog; on portals of version 2 or later the consent is kept for the next run (a
// restore token in the user's state folder), so the dialog asks once. Opening does not wait for
// the answer: until it comes the keys are only noted, and consent presses the keys then meant to
// be down. A refusal, a closed dialog or a session the desktop ends later gives one line on
// standard error and hands the keys to `fallback` (the next backend, named by `fallbackInUse`;
// may be null). A kept consent the desktop no longer honours is asked for again.
//
// The desktop releases the session's keys when the session closes, and the portal closes it
// when this process's bus connection goes, however the process ends; the fallback's keys may
// need the watchdog (watchdogBackend() names it).
//
// nullptr with `why` set, and `fallback` left with the caller, when there is no portal to ask
// or it made no session.
std::unique_ptr<Keyboard> openPortalKeyboard(const DesktopSession& session,
                                             std::unique_ptr<Keyboard>& fallback,
                                             const std::string& fallbackInUse,
                                             const KeyBindings& bindings, std::string& why);

}  // namespace camsteer
