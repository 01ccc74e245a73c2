#include "platform/keys/held_keys.hpp"

#include <utility>

#include "platform/process/pipe_byte.hpp"

namespace camsteer {

HeldKeys::HeldKeys(std::unique_ptr<Keyboard> backend) : backend_(std::move(backend)) {}

HeldKeys::~HeldKeys() {
    releaseAll();
}

void HeldKeys::want(KeySet wanted) {
    std::lock_guard<std::mutex> guard(lock_);
    if (heldBackBy_ != 0) {
        return;
    }
    const std::uint8_t next = wanted.bits();
    if (next == held_) {
        return;
    }
    // The mirror learns of a press before the backend sends it and of a release after: a
    // process that dies in between then leaves its watchdog releasing a key too many, which is
    // harmless, never one too few.
    const std::uint8_t previous = held_;
    const std::uint8_t during = previous | next;
    if (during != held_) {
        held_ = during;
        mirrorLocked();
    }
    // Releases first: a key pressed in the same step is then the last one pressed, the one the
    // desktop repeats.
    backend_->keys(KeySet::fromBits(previous & ~next), false);
    backend_->keys(KeySet::fromBits(next & ~previous), true);
    backend_->flush();
    if (held_ != next) {
        held_ = next;
        mirrorLocked();
    }
}

void HeldKeys::releaseAll() {
    std::lock_guard<std::mutex> guard(lock_);
    releaseAllLocked();
}

void HeldKeys::pause(Hold why) {
    std::lock_guard<std::mutex> guard(lock_);
    heldBackBy_ |= static_cast<std::uint8_t>(why);
    releaseAllLocked();
}

void HeldKeys::resume(Hold why) {
    std::lock_guard<std::mutex> guard(lock_);
    heldBackBy_ &= static_cast<std::uint8_t>(~static_cast<unsigned>(why));
}

void HeldKeys::releaseAllLocked() {
    if (held_ != 0) {
        backend_->keys(KeySet::fromBits(held_), false);
        backend_->flush();
        held_ = 0;
    }
    mirrorLocked();
}

void HeldKeys::mirrorTo(int fd) {
    std::lock_guard<std::mutex> guard(lock_);
    mirrorFd_ = fd;
    if (fd >= 0) {
        makeWritesNonBlocking(fd);
    }
    mirrorLocked();
}

bool HeldKeys::backendReachable() {
    std::lock_guard<std::mutex> guard(lock_);
    return backend_->reachable();
}

std::uint8_t HeldKeys::held() const {
    std::lock_guard<std::mutex> guard(lock_);
    return held_;
}

void HeldKeys::mirrorLocked() const {
    if (mirrorFd_ < 0) {
        return;
    }
    writeByteQuietly(mirrorFd_, held_);
}

}  // namespace camsteer
