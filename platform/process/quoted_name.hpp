#pragma once

#include <string>

namespace camsteer {

// A file name as a message shows it, quoted the way `ls` quotes for a shell: unchanged when it
// holds only letters, digits and % + , - . / : = @ _; otherwise in single quotes, with a single
// quote as \' and each control character as $'\n' (or $'\ooo'), so that the message stays on
// one line and the name can be pasted back into a shell: 'a'$'\n''b'.
std::string quotedName(const std::string& name);

}  // namespace camsteer
