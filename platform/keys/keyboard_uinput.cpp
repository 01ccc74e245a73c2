#include "platform/keys/keyboard_uinput.hpp"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/process/program_name.hpp"

namespace camsteer {

namespace {

input_event makeEvent(int type, int code, int value) {
    input_event event{};  // the kernel stamps the time itself
    event.type = static_cast<__u16>(type);
    event.code = static_cast<__u16>(code);
    event.value = value;
    return event;
}

}  // namespace

std::array<int, kSteeringKeyCount> evdevCodes(const KeyBindings& bindings) {
    std::array<int, kSteeringKeyCount> codes{};
    for (int k = 0; k < kSteeringKeyCount; ++k) {
        codes[k] = bindings[static_cast<SteeringKey>(k)].evdev;
    }
    return codes;
}

void UinputEventWriter::key(int evdevCode, bool down) {
    queue_.push_back(makeEvent(EV_KEY, evdevCode, down ? 1 : 0));
}

bool UinputEventWriter::flush() {
    if (queue_.empty()) {
        return true;
    }
    queue_.push_back(makeEvent(EV_SYN, SYN_REPORT, 0));
    const char* data = reinterpret_cast<const char*>(queue_.data());
    size_t left = queue_.size() * sizeof(input_event);
    bool ok = true;
    while (left > 0) {
        const ssize_t written = ::write(fd_, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            lastError_ = errno;
            ok = false;
            break;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    queue_.clear();
    return ok;
}

UinputKeyboard::UinputKeyboard(int fd, const KeyBindings& bindings)
    : codes_(evdevCodes(bindings)), writer_(fd) {}

UinputKeyboard::UinputKeyboard(libevdev_uinput* device, const KeyBindings& bindings)
    : device_(device), codes_(evdevCodes(bindings)), writer_(libevdev_uinput_get_fd(device)) {}

UinputKeyboard::~UinputKeyboard() {
    if (device_ != nullptr) {
        // Closes /dev/uinput (the device was opened managed); removing the device makes the
        // kernel release whatever key of it is still down.
        libevdev_uinput_destroy(device_);
    }
}

void UinputKeyboard::key(SteeringKey key, bool down) {
    writer_.key(codes_[key], down);
}

void UinputKeyboard::flush() {
    if (!writer_.flush() && !reportedWriteError_) {
        reportedWriteError_ = true;
        std::fprintf(stderr,
                     "%s: writing key events to the uinput device failed (%s); keys are not "
                     "being sent: restart %s\n",
                     programName(), std::strerror(writer_.lastError()), programName());
    }
}

std::string UinputKeyboard::devnode() const {
    if (device_ == nullptr) {
        return {};
    }
    const char* node = libevdev_uinput_get_devnode(device_);
    return node != nullptr ? node : "";
}

std::string uinputFailureReason(int error) {
    const std::string text = std::strerror(error);
    switch (error) {
        case ENOENT:
            return "/dev/uinput does not exist (" + text +
                   "); load the kernel module with 'sudo modprobe uinput'";
        case ENODEV:
        case ENXIO:
            return "/dev/uinput has no driver (" + text +
                   "); load the kernel module with 'sudo modprobe uinput'";
        case EACCES:
        case EPERM:
        case EROFS:
            return "/dev/uinput is not writable (" + text +
                   "); install the udev rule 60-camsteer-uinput.rules (the camsteer package "
                   "does; from a source tree see packaging/ and 'man camsteer'), or add "
                   "yourself to the 'input' group, then log in again";
        default:
            return "creating a virtual keyboard on /dev/uinput failed (" + text +
                   "); check the kernel log (dmesg) for uinput errors";
    }
}

std::unique_ptr<UinputKeyboard> openUinputKeyboard(const KeyBindings& bindings, std::string& why) {
    libevdev* description = libevdev_new();
    if (description == nullptr) {
        why = uinputFailureReason(ENOMEM);
        return nullptr;
    }
    libevdev_set_name(description, kUinputDeviceName);
    libevdev_set_id_bustype(description, BUS_VIRTUAL);
    libevdev_enable_event_type(description, EV_KEY);
    for (int evdevCode : evdevCodes(bindings)) {
        libevdev_enable_event_code(description, EV_KEY, static_cast<unsigned>(evdevCode), nullptr);
    }
    libevdev_uinput* device = nullptr;
    const int result =
        libevdev_uinput_create_from_device(description, LIBEVDEV_UINPUT_OPEN_MANAGED, &device);
    // The uinput device is a copy; the description is not needed any more.
    libevdev_free(description);
    if (result != 0) {
        why = uinputFailureReason(-result);
        return nullptr;
    }
    return std::unique_ptr<UinputKeyboard>(new UinputKeyboard(device, bindings));
}

}  // namespace camsteer
