#include "platform/keys/key_names.hpp"

#include <strings.h>

#include <algorithm>
#include <cctype>

namespace camsteer {

namespace {

// A run of keys side by side on a keyboard row: consecutive evdev codes, each evdev code also
// the key's set-1 scan code, each name one character whose ASCII code is its keysym.
struct Row {
    std::vector<const char*> names;
    std::uint16_t firstEvdev;
};

// The Windows virtual-key code of a letter or digit is its upper-case ASCII code.
std::uint8_t asciiVk(const char* name) {
    return static_cast<std::uint8_t>(std::toupper(static_cast<unsigned char>(name[0])));
}

std::vector<KeyName> makeKeyNames() {
    std::vector<KeyName> names;
    const Row rows[] = {
        {{"1", "2", "3", "4", "5", "6", "7", "8", "9", "0"}, 2},
        {{"q", "w", "e", "r", "t", "y", "u", "i", "o", "p"}, 16},
        {{"a", "s", "d", "f", "g", "h", "j", "k", "l"}, 30},
        {{"z", "x", "c", "v", "b", "n", "m"}, 44},
    };
    for (const Row& row : rows) {
        for (size_t i = 0; i < row.names.size(); ++i) {
            const auto code = static_cast<std::uint16_t>(row.firstEvdev + i);
            names.push_back({row.names[i], static_cast<std::uint32_t>(row.names[i][0]), code,
                             asciiVk(row.names[i]), static_cast<std::uint8_t>(code), false, false});
        }
    }
    const char* const functionKeys[] = {"F1", "F2", "F3", "F4",  "F5",  "F6",
                                        "F7", "F8", "F9", "F10", "F11", "F12"};
    for (int i = 0; i < 12; ++i) {
        const auto code = static_cast<std::uint16_t>(i < 10 ? 59 + i : 87 + i - 10);
        names.push_back({functionKeys[i], 0xffbeu + static_cast<std::uint32_t>(i), code,
                         static_cast<std::uint8_t>(0x70 + i), static_cast<std::uint8_t>(code),
                         false, false});
    }
    // name, keysym, evdev, vk, scan, extended, modifier
    const KeyName others[] = {
        {"Up", 0xff52, 103, 0x26, 0x48, true, false},
        {"Down", 0xff54, 108, 0x28, 0x50, true, false},
        {"Left", 0xff51, 105, 0x25, 0x4b, true, false},
        {"Right", 0xff53, 106, 0x27, 0x4d, true, false},
        {"Home", 0xff50, 102, 0x24, 0x47, true, false},
        {"End", 0xff57, 107, 0x23, 0x4f, true, false},
        {"Prior", 0xff55, 104, 0x21, 0x49, true, false},  // Page Up
        {"Next", 0xff56, 109, 0x22, 0x51, true, false},   // Page Down
        {"Insert", 0xff63, 110, 0x2d, 0x52, true, false},
        {"Delete", 0xffff, 111, 0x2e, 0x53, true, false},
        {"KP_Add", 0xffab, 78, 0x6b, 0x4e, false, false},
        {"KP_Subtract", 0xffad, 74, 0x6d, 0x4a, false, false},
        {"KP_Multiply", 0xffaa, 55, 0x6a, 0x37, false, false},
        {"KP_Divide", 0xffaf, 98, 0x6f, 0x35, true, false},
        {"KP_Enter", 0xff8d, 96, 0x0d, 0x1c, true, false},
        {"space", 0x20, 57, 0x20, 0x39, false, false},
        {"Return", 0xff0d, 28, 0x0d, 0x1c, false, false},
        {"Tab", 0xff09, 15, 0x09, 0x0f, false, false},
        {"BackSpace", 0xff08, 14, 0x08, 0x0e, false, false},
        {"Escape", 0xff1b, 1, 0x1b, 0x01, false, false},
        {"Shift_L", 0xffe1, 42, 0xa0, 0x2a, false, true},
        {"Shift_R", 0xffe2, 54, 0xa1, 0x36, false, true},
        {"Control_L", 0xffe3, 29, 0xa2, 0x1d, false, true},
        {"Control_R", 0xffe4, 97, 0xa3, 0x1d, true, true},
        {"Alt_L", 0xffe9, 56, 0xa4, 0x38, false, true},
        {"Alt_R", 0xffea, 100, 0xa5, 0x38, true, true},
        {"Super_L", 0xffeb, 125, 0x5b, 0x5b, true, true},
        {"Super_R", 0xffec, 126, 0x5c, 0x5c, true, true},
        {"minus", 0x2d, 12, 0xbd, 0x0c, false, false},
        {"equal", 0x3d, 13, 0xbb, 0x0d, false, false},
        {"bracketleft", 0x5b, 26, 0xdb, 0x1a, false, false},
        {"bracketright", 0x5d, 27, 0xdd, 0x1b, false, false},
        {"semicolon", 0x3b, 39, 0xba, 0x27, false, false},
        {"apostrophe", 0x27, 40, 0xde, 0x28, false, false},
        {"grave", 0x60, 41, 0xc0, 0x29, false, false},
        {"backslash", 0x5c, 43, 0xdc, 0x2b, false, false},
        {"comma", 0x2c, 51, 0xbc, 0x33, false, false},
        {"period", 0x2e, 52, 0xbe, 0x34, false, false},
        {"slash", 0x2f, 53, 0xbf, 0x35, false, false},
    };
    names.insert(names.end(), std::begin(others), std::end(others));
    return names;
}

const char* const kSteeringKeyNames[kSteeringKeyCount] = {"up",    "down",    "left",
                                                          "right", "forward", "back"};
// The keys the steering keys send unless told otherwise, in steering order.
const char* const kDefaultKeys[kSteeringKeyCount] = {"Up",    "Down",   "Left",
                                                     "Right", "KP_Add", "KP_Subtract"};

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

}  // namespace

const std::vector<KeyName>& keyNames() {
    static const std::vector<KeyName> names = makeKeyNames();
    return names;
}

const KeyName* findKeyName(const std::string& name) {
    for (const KeyName& key : keyNames()) {
        if (strcasecmp(key.name, name.c_str()) == 0) {
            return &key;
        }
    }
    return nullptr;
}

const char* steeringKeyName(SteeringKey key) {
    return kSteeringKeyNames[key];
}

KeyBindings::KeyBindings() {
    for (int k = 0; k < kSteeringKeyCount; ++k) {
        keys_[k] = findKeyName(kDefaultKeys[k]);
    }
}

std::string KeyBindings::text() const {
    std::string text;
    for (int k = 0; k < kSteeringKeyCount; ++k) {
        text += std::string(k == 0 ? "" : ",") + kSteeringKeyNames[k] + "=" + keys_[k]->name;
    }
    return text;
}

std::string KeyBindings::changes() const {
    const KeyBindings defaults;
    std::string text;
    for (int k = 0; k < kSteeringKeyCount; ++k) {
        if (keys_[k] != defaults.keys_[k]) {
            text +=
                std::string(text.empty() ? "" : ",") + kSteeringKeyNames[k] + "=" + keys_[k]->name;
        }
    }
    return text;
}

bool parseKeyBindings(const std::string& text, KeyBindings& bindings, std::string& why) {
    KeyBindings result = bindings;
    bool given[kSteeringKeyCount] = {};
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        start = comma + 1;
        const size_t equals = item.find('=');
        if (equals == std::string::npos) {
            why = "'" + item + "' is not STEERINGKEY=KEY (for example up=w)";
            return false;
        }
        const std::string steering = trimmed(item.substr(0, equals));
        const std::string keyName = trimmed(item.substr(equals + 1));
        const auto named = std::find_if(std::begin(kSteeringKeyNames), std::end(kSteeringKeyNames),
                                        [&](const char* n) { return steering == n; });
        if (named == std::end(kSteeringKeyNames)) {
            why = "'" + steering + "' is not a steering key (up, down, left, right, forward, back)";
            return false;
        }
        const auto key = static_cast<SteeringKey>(named - std::begin(kSteeringKeyNames));
        if (given[key]) {
            why = std::string(*named) + " is given twice";
            return false;
        }
        given[key] = true;
        const KeyName* name = findKeyName(keyName);
        if (name == nullptr) {
            why = "unknown key name '" + keyName + "' for " + *named +
                  " (X keysym names such as w, space, Prior, KP_Add; see --help)";
            return false;
        }
        if (name->modifier && (key == kSteerForward || key == kSteerBack)) {
            why = std::string(name->name) + " is a modifier and cannot be " + *named +
                  " (choose a key that acts on its own)";
            return false;
        }
        result.bind(key, *name);
    }
    for (int a = 0; a < kSteeringKeyCount; ++a) {
        for (int b = a + 1; b < kSteeringKeyCount; ++b) {
            const auto ka = static_cast<SteeringKey>(a);
            const auto kb = static_cast<SteeringKey>(b);
            if (&result[ka] == &result[kb]) {
                why = std::string("key ") + result[ka].name + " is bound to both " +
                      kSteeringKeyNames[a] + " and " + kSteeringKeyNames[b];
                return false;
            }
        }
    }
    bindings = result;
    return true;
}

const char* commonKeyNames() {
    return "a-z, 0-9, F1-F12, Up, Down, Left, Right, space, Return, Tab, BackSpace, Escape, "
           "Prior (Page Up), Next (Page Down), Home, End, Insert, Delete, KP_Add, KP_Subtract, "
           "KP_Multiply, KP_Divide, KP_Enter, Shift_L, Shift_R, Control_L, Control_R, Alt_L, "
           "Alt_R, minus, equal, comma, period, slash, semicolon, apostrophe, bracketleft, "
           "bracketright, backslash, grave";
}

}  // namespace camsteer
