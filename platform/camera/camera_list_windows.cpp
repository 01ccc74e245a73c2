#include "platform/camera/camera_list.hpp"

#include <dshow.h>
#include <windows.h>

namespace camsteer {

const char* const kNoCameraAdvice = "no video capture device; connect a camera";

namespace {

// DirectShow's device enumerator and video input category, defined here: mingw-w64's strmiids
// library defines them in one object with GUIDs OpenCV's DirectShow capture defines again, so
// linking both fails (mingw-w64 12, Debian 13).
constexpr CLSID kSystemDeviceEnum = {
    0x62be5d10, 0x60eb, 0x11d0, {0xbd, 0x3b, 0x00, 0xa0, 0xc9, 0x11, 0xce, 0x86}};
constexpr IID kCreateDevEnum = {
    0x29840822, 0x5b84, 0x11d0, {0xbd, 0x3b, 0x00, 0xa0, 0xc9, 0x11, 0xce, 0x86}};
constexpr CLSID kVideoInputDeviceCategory = {
    0x860bb310, 0x5d01, 0x11d0, {0xbd, 0x3b, 0x00, 0xa0, 0xc9, 0x11, 0xce, 0x86}};

std::string narrow(const wchar_t* wide) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return std::string();
    }
    std::string text(static_cast<size_t>(size - 1), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), size, nullptr, nullptr);
    return text;
}

std::string friendlyName(IMoniker* moniker) {
    IPropertyBag* bag = nullptr;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                      reinterpret_cast<void**>(&bag)))) {
        return std::string();
    }
    std::string name;
    VARIANT value;
    ::VariantInit(&value);
    if (SUCCEEDED(bag->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR) {
        name = narrow(value.bstrVal);
    }
    ::VariantClear(&value);
    bag->Release();
    return name;
}

}  // namespace

// DirectShow's video input devices, in the order of its enumeration: the order in which
// OpenCV's DirectShow capture numbers them, so camera N is the device at N - 1 in both.
std::vector<CaptureDevice> captureDevices() {
    std::vector<CaptureDevice> devices;
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ICreateDevEnum* deviceEnum = nullptr;
    if (SUCCEEDED(::CoCreateInstance(kSystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                     kCreateDevEnum, reinterpret_cast<void**>(&deviceEnum)))) {
        IEnumMoniker* monikers = nullptr;
        // S_FALSE, with no enumerator, when the category has no device.
        if (deviceEnum->CreateClassEnumerator(kVideoInputDeviceCategory, &monikers, 0) == S_OK &&
            monikers != nullptr) {
            IMoniker* moniker = nullptr;
            while (monikers->Next(1, &moniker, nullptr) == S_OK) {
                devices.push_back(CaptureDevice{std::string(), friendlyName(moniker)});
                moniker->Release();
            }
            monikers->Release();
        }
        deviceEnum->Release();
    }
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return devices;
}

int countCameras() {
    return static_cast<int>(captureDevices().size());
}

}  // namespace camsteer
