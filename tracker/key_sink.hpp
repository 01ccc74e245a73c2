#pragma once

#include <array>
#include <cstdint>

namespace camsteer {

// The six steering keys in the order the tracker sends them. Every table with one entry per
// steering key (the codes below, the backends' own codes) is indexed by it.
enum SteeringKey : int {
    kSteerUp,
    kSteerDown,
    kSteerLeft,
    kSteerRight,
    kSteerForward,
    kSteerBack,
    kSteeringKeyCount
};

// The classic virtual-key codes the steering keys are described with, and send unless the user
// binds other keys (platform/keys/key_names.hpp holds every backend's codes for each key).
enum VirtualKey : int {
    kVkLeft = 37,
    kVkUp = 38,
    kVkRight = 39,
    kVkDown = 40,
    kVkAdd = 107,       // keypad plus
    kVkSubtract = 109,  // keypad minus
};
constexpr std::array<int, kSteeringKeyCount> kSteeringKeys = {kVkUp,    kVkDown, kVkLeft,
                                                              kVkRight, kVkAdd,  kVkSubtract};

// Which of the six steering keys: bit i is SteeringKey i. The one form the keys take from the
// decision through the held keys and the watchdog's pipe (one byte) to the backends.
class KeySet {
  public:
    constexpr KeySet() = default;
    static constexpr KeySet fromBits(std::uint8_t bits) {
        return KeySet(static_cast<std::uint8_t>(bits & kAll));
    }
    static constexpr KeySet all() { return KeySet(kAll); }

    constexpr bool test(SteeringKey key) const { return (bits_ >> key & 1u) != 0; }
    constexpr KeySet& set(SteeringKey key, bool on = true) {
        bits_ = static_cast<std::uint8_t>(on ? bits_ | 1u << key : bits_ & ~(1u << key));
        return *this;
    }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr std::uint8_t bits() const { return bits_; }

    constexpr KeySet operator|(KeySet o) const { return KeySet(bits_ | o.bits_); }
    constexpr KeySet operator&(KeySet o) const { return KeySet(bits_ & o.bits_); }
    constexpr KeySet operator~() const { return KeySet(~bits_ & kAll); }
    constexpr bool operator==(KeySet o) const { return bits_ == o.bits_; }
    constexpr bool operator!=(KeySet o) const { return bits_ != o.bits_; }

  private:
    static constexpr std::uint8_t kAll = (1u << kSteeringKeyCount) - 1;
    constexpr explicit KeySet(unsigned bits) : bits_(static_cast<std::uint8_t>(bits)) {}
    std::uint8_t bits_ = 0;
};

// Where the tracker's wanted key states go, frame by frame: every pass says the whole set it
// wants down, and the sink makes the keys so (the held keys over a key backend).
class KeySink {
  public:
    virtual ~KeySink() = default;
    virtual void want(KeySet wanted) = 0;
};

}  // namespace camsteer
