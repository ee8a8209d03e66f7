// The HID bus on Windows: SetupAPI lists the present HID interfaces, the HID class driver
// gives their ids and capabilities, and reports are written with WriteFile.
#include <windows.h>
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

class Win32HidBus : public HidBus {
  public:
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
};

}  // namespace

std::unique_ptr<HidBus> CreateSystemHidBus() {
    return std::make_unique<Win32HidBus>();
}

}  // namespace zelk
