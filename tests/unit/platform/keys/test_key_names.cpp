#include <xkbcommon/xkbcommon.h>

#include <set>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/keys/key_names.hpp"

namespace camsteer {
namespace {

// Each backend tells keys apart by its own code, so every key must have one, and no two keys the
// same. The evdev column is checked against the US layout's own data: the key at each evdev code
// (xkb keycode = evdev + 8) must type the named keysym unshifted.
TEST(KeyNames, EveryKeyHasItsOwnCodeInEveryBackendAndTheUsLayoutAgrees) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names us{"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &us, XKB_KEYMAP_COMPILE_NO_FLAGS);
    ASSERT_NE(keymap, nullptr) << "xkb-data is needed";
    std::set<std::string> names;
    std::set<std::uint32_t> keysyms;
    std::set<int> evdevCodes;
    std::set<std::tuple<int, int, bool>> windowsKeys;
    for (const KeyName& key : keyNames()) {
        SCOPED_TRACE(key.name);
        EXPECT_TRUE(key.keysym != 0 && key.evdev != 0 && key.vk != 0 && key.scan != 0);
        std::string lower = key.name;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        EXPECT_TRUE(names.insert(lower).second) << "names are found case-insensitively";
        EXPECT_TRUE(keysyms.insert(key.keysym).second);
        EXPECT_TRUE(evdevCodes.insert(key.evdev).second);
        EXPECT_TRUE(windowsKeys.insert({key.vk, key.scan, key.extended}).second);
        EXPECT_EQ(findKeyName(lower), &key);
        const xkb_keysym_t* syms = nullptr;
        ASSERT_EQ(xkb_keymap_key_get_syms_by_level(keymap, key.evdev + 8u, 0, 0, &syms), 1);
        EXPECT_EQ(syms[0], key.keysym);
    }
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    // Unbound, the steering keys send the keys the tracker describes them by.
    const KeyBindings defaults;
    for (int k = 0; k < kSteeringKeyCount; ++k) {
        EXPECT_EQ(defaults[static_cast<SteeringKey>(k)].vk, kSteeringKeys[k]);
    }
}

TEST(KeyBindings, ParsesAnySubsetAndRefusesWhatCannotWork) {
    struct Case {
        const char* text;
        const char* result;  // the bindings after, or a part of the one-line refusal
    };
    const Case cases[] = {
        {"up=w,left=a", "up=w,down=Down,left=a,right=Right,forward=KP_Add,back=KP_Subtract"},
        {"left=Left,right=Right",
         "up=Up,down=Down,left=Left,right=Right,forward=KP_Add,back=KP_Subtract"},
        {" up = W , forward=SPACE",
         "up=w,down=Down,left=Left,right=Right,forward=space,back=KP_Subtract"},
        {"left=Up,up=Left",
         "up=Left,down=Down,left=Up,right=Right,forward=KP_Add,back=KP_Subtract"},
        {"up=Shift_L,back=Prior",
         "up=Shift_L,down=Down,left=Left,right=Right,forward=KP_Add,back=Prior"},
        {"", "is not STEERINGKEY=KEY"},
        {"up", "'up' is not STEERINGKEY=KEY"},
        {"up=w,", "'' is not STEERINGKEY=KEY"},
        {"jump=space", "'jump' is not a steering key"},
        {"up=wq", "unknown key name 'wq' for up"},
        {"up=", "unknown key name '' for up"},
        {"up=Left", "key Left is bound to both up and left"},
        {"up=w,down=w", "key w is bound to both up and down"},
        {"up=w,up=a", "up is given twice"},
        {"forward=Shift_L", "Shift_L is a modifier and cannot be forward"},
        {"back=Control_R", "Control_R is a modifier and cannot be back"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KeyBindings bindings;
        std::string why;
        const bool parsed = parseKeyBindings(c.text, bindings, why);
        if (parsed) {
            EXPECT_EQ(bindings.text(), c.result);
            continue;
        }
        EXPECT_NE(why.find(c.result), std::string::npos) << why;
        EXPECT_EQ(why.find('\n'), std::string::npos);
        EXPECT_EQ(bindings, KeyBindings()) << "a refusal leaves the bindings as they were";
    }
    // The text form reads back as itself: the watchdog and the set-up file keep it so.
    KeyBindings bound;
    std::string why;
    ASSERT_TRUE(parseKeyBindings("up=w,down=s,left=a,right=d,forward=F1,back=Next", bound, why));
    KeyBindings read;
    ASSERT_TRUE(parseKeyBindings(bound.text(), read, why)) << why;
    EXPECT_EQ(read, bound);
    EXPECT_EQ(bound.changes(), "up=w,down=s,left=a,right=d,forward=F1,back=Next");
    EXPECT_EQ(KeyBindings().changes(), "") << "the start-up line names no binding by default";
}

}  // namespace
}  // namespace camsteer
