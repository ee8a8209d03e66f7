// The HID bus on Windows: SetupAPI lists the present HID interfaces, the HID class driver
// gives their ids and capabilities, and reports are written with WriteFile.
#include <windows.h>
#include <dbt.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <vector>

#include "common/win_codes.h"
#include "service/panel/hid_bus.h"

namespace zelk {
namespace {

// The last error of a failed call, never 0.
std::uint32_t LastErrorOr31() {
    const DWORD error = ::GetLastError();
    return error != 0 ? static_cast<std::uint32_t>(error) : kErrorGenFailure;
}

class Win32HidDevice : public HidDevice {
  public:
    explicit Win32HidDevice(HANDLE handle) : handle_(handle) {}
    ~Win32HidDevice() override { ::CloseHandle(handle_); }
    Win32HidDevice(const Win32HidDevice&) = delete;
    Win32HidDevice& operator=(const Win32HidDevice&) = delete;

    bool GetAttributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof(attributes);
        if (!HidD_GetAttributes(handle_, &attributes)) {
            return false;
        }
        vendorId = attributes.VendorID;
        productId = attributes.ProductID;
        return true;
    }

    std::uint32_t GetOutputReportLength(std::uint16_t& length) override {
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        if (!HidD_GetPreparsedData(handle_, &preparsed)) {
            return LastErrorOr31();
        }
        HIDP_CAPS caps{};
        const NTSTATUS status = HidP_GetCaps(preparsed, &caps);
        // The error is taken before the preparsed data is freed, which may change it.
        const std::uint32_t error = status == HIDP_STATUS_SUCCESS ? 0 : LastErrorOr31();
        HidD_FreePreparsedData(preparsed);
        if (error != 0) {
            return error;
        }
        length = caps.OutputReportByteLength;
        return kErrorSuccess;
    }

    std::uint32_t Write(const std::uint8_t* data, std::size_t length) override {
        if (length > MAXDWORD) {
            return kErrorGenFailure;
        }
        DWORD written = 0;
        if (!::WriteFile(handle_, data, static_cast<DWORD>(length), &written, nullptr)) {
            return LastErrorOr31();
        }
        return kErrorSuccess;
    }

  private:
    HANDLE handle_;
};

// The window class of the arrival notices' message-only window.
constexpr const char* kNoticeWindowClass = "LumaraHidArrivalNotices";

LRESULT CALLBACK NoticeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEARRIVAL) {
        if (auto* arrived = reinterpret_cast<bool*>(GetWindowLongPtrA(window, GWLP_USERDATA))) {
            *arrived = true;
        }
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class Win32HidBus : public HidBus {
  public:
    Win32HidBus() : cancelEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Win32HidBus() override {
        if (notification_ != nullptr) UnregisterDeviceNotification(notification_);
        if (window_ != nullptr) DestroyWindow(window_);
        if (cancelEvent_ != nullptr) CloseHandle(cancelEvent_);
    }
    Win32HidBus(const Win32HidBus&) = delete;
    Win32HidBus& operator=(const Win32HidBus&) = delete;

    // Notices are the HID interface arrivals the system sends to a message-only window of the
    // waiting thread.
    bool WaitForArrival(std::uint32_t timeoutMs) override {
        if (cancelEvent_ == nullptr) return HidBus::WaitForArrival(timeoutMs);
        if (window_ == nullptr && !watchFailed_) {
            if (StartWatch()) return true;
            watchFailed_ = true;
        }
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        arrived_ = false;
        for (;;) {
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) return false;
            const DWORD r = MsgWaitForMultipleObjects(
                1, &cancelEvent_, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
            if (r != WAIT_OBJECT_0 + 1) return false;  // cancelled, timed out or failed
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageA(&message);
            }
            if (arrived_) return true;
        }
    }

    void CancelArrivalWait() override {
        if (cancelEvent_ != nullptr) SetEvent(cancelEvent_);
    }
    std::vector<std::string> EnumerateInterfaces() override {
        std::vector<std::string> paths;
        GUID hidGuid;
        HidD_GetHidGuid(&hidGuid);
        HDEVINFO set =
            SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) {
            return paths;
        }
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA interfaceData{};
            interfaceData.cbSize = sizeof(interfaceData);
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData)) {
                break;  // no interface left
            }
            DWORD required = 0;
            SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required, nullptr);
            if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
                continue;
            }
            std::vector<unsigned char> storage(required);
            auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(storage.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (!SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, required, nullptr,
                                                  nullptr)) {
                continue;
            }
            paths.emplace_back(detail->DevicePath);
        }
        SetupDiDestroyDeviceInfoList(set);
        return paths;
    }

    std::unique_ptr<HidDevice> Open(const std::string& path) override {
        HANDLE handle =
            ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        return std::make_unique<Win32HidDevice>(handle);
    }

  private:
    bool StartWatch() {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &NoticeWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kNoticeWindowClass;
        RegisterClassA(&windowClass);  // fails harmlessly when already registered
        window_ = CreateWindowExA(0, kNoticeWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
        if (window_ == nullptr) return false;
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&arrived_));
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        HidD_GetHidGuid(&filter.dbcc_classguid);
        notification_ = RegisterDeviceNotificationA(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (notification_ == nullptr) {
            DestroyWindow(window_);
            window_ = nullptr;
            return false;
        }
        return true;
    }

    HANDLE cancelEvent_;
    HWND window_ = nullptr;  // owned by the waiting thread
    HDEVNOTIFY notification_ = nullptr;
    bool watchFailed_ = false;
    bool arrived_ = false;
};

}  // namespace

std::unique_ptr<HidBus> CreateSystemHidBus() {
    return std::make_unique<Win32HidBus>();
}

}  // namespace zelk
