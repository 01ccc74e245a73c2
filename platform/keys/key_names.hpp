#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tracker/key_sink.hpp"

namespace camsteer {

// One key the user may bind a steering key to, by its X keysym name, with the code each way of
// sending keys knows it by. Plain numbers, so no window-system header is needed to use them.
struct KeyName {
    const char* name;      // X keysym spelling: "w", "space", "Shift_L", "Prior", "KP_Add"
    std::uint32_t keysym;  // X keysym
    std::uint16_t evdev;   // Linux input event code (KEY_*), the key on a US layout
    std::uint8_t vk;       // Windows virtual-key code
    std::uint8_t scan;     // Windows set-1 scan code
    bool extended;         // Windows: sent with KEYEVENTF_EXTENDEDKEY (the E0 prefix)
    bool modifier;         // Shift, Control, Alt, Super
};

// Every key that can be bound, letters, digits, F1-F12, the arrows and the block above them,
// the keypad operators, Return, Tab, BackSpace, Escape, space, the modifiers and punctuation.
const std::vector<KeyName>& keyNames();

// The key named `name` (case-insensitive: "W" and "up" are found), or nullptr.
const KeyName* findKeyName(const std::string& name);

// "up", "down", "left", "right", "forward", "back": how --keys names a steering key.
const char* steeringKeyName(SteeringKey key);

// Which key each steering key sends. The default is the arrows and the keypad plus and minus.
class KeyBindings {
  public:
    KeyBindings();
    const KeyName& operator[](SteeringKey key) const { return *keys_[key]; }
    void bind(SteeringKey key, const KeyName& name) { keys_[key] = &name; }
    bool operator==(const KeyBindings& o) const { return keys_ == o.keys_; }
    bool operator!=(const KeyBindings& o) const { return keys_ != o.keys_; }
    // All six as --keys takes them: "up=Up,down=Down,left=Left,right=Right,forward=KP_Add,...".
    std::string text() const;
    // Only those bound to other keys than by default, the same way ("up=w,left=a"); empty when
    // none is.
    std::string changes() const;

  private:
    std::array<const KeyName*, kSteeringKeyCount> keys_;
};

// Applies "up=KEY,left=KEY,..." (any subset, each steering key at most once) to `bindings`.
// False, with one line naming what is wrong and `bindings` untouched, for a malformed item, an
// unknown steering key or key name, a key bound to two steering keys, or a modifier on forward
// or back (held alone it steers nothing a game shows; with the arrows it changes their meaning).
bool parseKeyBindings(const std::string& text, KeyBindings& bindings, std::string& why);

// The common key names, for --help: "a-z, 0-9, F1-F12, Up, Down, ...".
const char* commonKeyNames();

}  // namespace camsteer
