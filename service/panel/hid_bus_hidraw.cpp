// The HID bus on Linux: the hidraw nodes, their ids from sysfs, output reports written with
// write().
#include "service/panel/hid_bus_hidraw.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "common/debug_print.h"
#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "common/win_codes.h"
#include "service/panel/panel_hid_parse.h"

namespace zelk {
namespace {

// The system error of a failed call, in the codes the panel's callers know. Several errno
// values share one code, so the errno itself goes to the trace.
std::uint32_t ErrorFromErrno(const char* call, int error) {
    std::uint32_t code;
    switch (error) {
        case ENODEV:
        case ENXIO:
        case ESHUTDOWN:
        case EPIPE:
        case EIO:  // what a write to an unplugged device's node gives
            code = kErrorDeviceNotConnected;
            break;
        case EACCES:
        case EPERM:
            code = kErrorAccessDenied;
            break;
        case EINVAL:
            code = kErrorInvalidParameter;
            break;
        default:
            code = kErrorGenFailure;
            break;
    }
    DebugPrint("hidraw %s failed: errno %d (%s), error %u.\n", call, error, std::strerror(error),
               static_cast<unsigned>(code));
    return code;
}

bool ReadWholeFile(const std::string& path, std::string& contents) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// "hidraw12" -> 12; -1 for any other name.
long NodeNumber(const std::string& name) {
    static const std::string kPrefix = "hidraw";
    if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0) {
        return -1;
    }
    long number = 0;
    for (std::size_t i = kPrefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || number > 1000000) {
            return -1;
        }
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class HidrawDevice : public HidDevice {
  public:
    HidrawDevice(int fd, std::string sysDir) : fd_(fd), sysDir_(std::move(sysDir)) {}
    ~HidrawDevice() override { ::close(fd_); }
    HidrawDevice(const HidrawDevice&) = delete;
    HidrawDevice& operator=(const HidrawDevice&) = delete;

    bool GetAttributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        std::string uevent;
        if (ReadWholeFile(sysDir_ + "/device/uevent", uevent) &&
            ParseUeventHidId(uevent, vendorId, productId)) {
            return true;
        }
        hidraw_devinfo info{};
        if (::ioctl(fd_, HIDIOCGRAWINFO, &info) == 0) {
            vendorId = static_cast<std::uint16_t>(info.vendor);
            productId = static_cast<std::uint16_t>(info.product);
            return true;
        }
        return false;
    }

    // The descriptor does not change while the node is open: it is read once.
    std::uint32_t GetOutputReportLength(std::uint16_t& length) override {
        MutexLock guard(lengthLock_);
        if (!lengthKnown_) {
            std::vector<std::uint8_t> descriptor;
            const std::uint32_t result = ReadDescriptor(descriptor);
            if (result != kErrorSuccess) {
                return result;
            }
            outputLength_ = OutputReportLengthFromDescriptor(descriptor.data(), descriptor.size());
            lengthKnown_ = true;
        }
        length = outputLength_;
        return kErrorSuccess;
    }

    std::uint32_t Write(const std::uint8_t* data, std::size_t length) override {
        ssize_t written;
        do {
            written = ::write(fd_, data, length);
        } while (written < 0 && errno == EINTR);
        if (written < 0) {
            return ErrorFromErrno("write", errno);
        }
        return static_cast<std::size_t>(written) == length ? kErrorSuccess : kErrorGenFailure;
    }

  private:
    std::uint32_t ReadDescriptor(std::vector<std::uint8_t>& descriptor) {
        std::string contents;
        if (ReadWholeFile(sysDir_ + "/device/report_descriptor", contents)) {
            descriptor.assign(contents.begin(), contents.end());
            return kErrorSuccess;
        }
        int size = 0;
        if (::ioctl(fd_, HIDIOCGRDESCSIZE, &size) < 0) {
            return ErrorFromErrno("HIDIOCGRDESCSIZE", errno);
        }
        hidraw_report_descriptor raw{};
        raw.size = static_cast<__u32>(std::clamp(size, 0, HID_MAX_DESCRIPTOR_SIZE));
        if (::ioctl(fd_, HIDIOCGRDESC, &raw) < 0) {
            return ErrorFromErrno("HIDIOCGRDESC", errno);
        }
        descriptor.assign(raw.value, raw.value + raw.size);
        return kErrorSuccess;
    }

    int fd_;
    std::string sysDir_;
    Mutex lengthLock_;
    bool lengthKnown_ GUARDED_BY(lengthLock_) = false;
    std::uint16_t outputLength_ GUARDED_BY(lengthLock_) = 0;
};

class HidrawBus : public HidBus {
  public:
    HidrawBus(std::string classDir, std::string devDir)
        : classDir_(std::move(classDir)),
          devDir_(std::move(devDir)),
          cancelFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~HidrawBus() override {
        if (watchFd_ >= 0) ::close(watchFd_);
        if (cancelFd_ >= 0) ::close(cancelFd_);
    }
    HidrawBus(const HidrawBus&) = delete;
    HidrawBus& operator=(const HidrawBus&) = delete;

    // Notices are the hidraw nodes that appear in the device folder, or get their permissions
    // set (udev does that just after creating them), seen through inotify.
    bool WaitForArrival(std::uint32_t timeoutMs) override {
        if (cancelFd_ < 0) return HidBus::WaitForArrival(timeoutMs);
        if (watchFd_ < 0) {
            watchFd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
            if (watchFd_ >= 0 && ::inotify_add_watch(watchFd_, devDir_.c_str(),
                                                     IN_CREATE | IN_ATTRIB | IN_MOVED_TO) < 0) {
                ::close(watchFd_);
                watchFd_ = -1;
            }
            if (watchFd_ >= 0) return true;
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd fds[2] = {{cancelFd_, POLLIN, 0}, {watchFd_, POLLIN, 0}};
            const int ready = ::poll(fds, watchFd_ >= 0 ? 2 : 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0 || fds[0].revents != 0) return false;
            if (NodeEventRead()) return true;
        }
    }

    void CancelArrivalWait() override {
        const std::uint64_t one = 1;
        if (cancelFd_ >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(cancelFd_, &one, sizeof one);
        }
    }

    // The nodes in the order of their numbers (hidraw2 before hidraw10).
    std::vector<std::string> EnumerateInterfaces() override {
        std::vector<std::pair<long, std::string>> nodes;
        if (DIR* dir = ::opendir(classDir_.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                const long number = NodeNumber(name);
                if (number >= 0) {
                    nodes.emplace_back(number, name);
                }
            }
            ::closedir(dir);
        }
        std::sort(nodes.begin(), nodes.end());
        std::vector<std::string> paths;
        for (const auto& node : nodes) {
            paths.push_back(devDir_ + "/" + node.second);
        }
        return paths;
    }

    std::unique_ptr<HidDevice> Open(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            return nullptr;
        }
        return std::make_unique<HidrawDevice>(fd, classDir_ + "/" + BaseName(path));
    }

  private:
    // Reads the waiting inotify events; true when one names a hidraw node (or events were
    // lost, when one may have).
    bool NodeEventRead() {
        alignas(inotify_event) char buffer[4096];
        bool node = false;
        for (;;) {
            const ssize_t n = ::read(watchFd_, buffer, sizeof buffer);
            if (n <= 0) return node;
            for (ssize_t pos = 0; pos < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + pos);
                if ((event->mask & IN_Q_OVERFLOW) != 0 ||
                    (event->len > 0 && NodeNumber(event->name) >= 0)) {
                    node = true;
                }
                pos += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    std::string classDir_;
    std::string devDir_;
    int cancelFd_;
    int watchFd_ = -1;
};

}  // namespace

std::unique_ptr<HidBus> CreateHidrawBus(const std::string& classDir, const std::string& devDir) {
    return std::make_unique<HidrawBus>(classDir, devDir);
}

std::unique_ptr<HidBus> CreateSystemHidBus() {
    return CreateHidrawBus("/sys/class/hidraw", "/dev");
}

}  // namespace zelk
