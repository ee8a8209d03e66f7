// A prepared hidraw tree: a class folder listing one node with the panel's ids and report
// descriptor, and the node itself as a FIFO whose reports are decoded by a virtual panel as
// they arrive.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/panel/virtual_panel.h"

namespace zelk {

class HidrawTree {
  public:
    // `withPanel` false: the class folder lists no node.
    HidrawTree(const std::filesystem::path& root, bool withPanel) : root_(root) {
        namespace fs = std::filesystem;
        fs::create_directories(root / "class");
        fs::create_directories(root / "dev");
        if (!withPanel) return;
        const fs::path device = root / "class" / "hidraw3" / "device";
        fs::create_directories(device);
        std::ofstream(device / "uevent") << "DRIVER=hid-generic\nHID_ID=0003:00001F3C:00005A41\n";
        // Output reports 1 and 2 of up to 7 bytes each: 8 bytes with the id.
        const unsigned char descriptor[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85,
                                            0x01, 0x75, 0x08, 0x95, 0x07, 0x91, 0x02, 0x85,
                                            0x02, 0x95, 0x02, 0x91, 0x02, 0xC0};
        std::ofstream(device / "report_descriptor", std::ios::binary)
            .write(reinterpret_cast<const char*>(descriptor), sizeof descriptor);
        const std::string node = (root / "dev" / "hidraw3").string();
        mkfifo(node.c_str(), 0600);
        // Our own writer end keeps the FIFO from reporting a hang-up between daemons.
        readFd_ = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        holdFd_ = open(node.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        wakeFd_ = eventfd(0, EFD_CLOEXEC);
        holdChanged_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        device_ = bus_.Open(bus_.EnumerateInterfaces().front());
        reader_ = std::thread([this] { Read(); });
    }
    ~HidrawTree() {
        if (reader_.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
            reader_.join();
        }
        for (int fd : {readFd_, holdFd_, wakeFd_, holdChanged_}) {
            if (fd >= 0) close(fd);
        }
    }

    std::string ClassDir() const { return (root_ / "class").string(); }
    std::string DevDir() const { return (root_ / "dev").string(); }
    PanelPicture Picture() const { return bus_.Picture(); }
    std::size_t Reports() const { return bus_.ReportCount(); }

    // Stops taking reports off the node (true), whose room shrinks to one page, so that a
    // writer blocks once it is full; or takes them again (false).
    void Hold(bool held) {
        if (held) fcntl(readFd_, F_SETPIPE_SZ, kHeldRoom);
        held_.store(held);
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(holdChanged_, &one, sizeof one);
    }
    // Whether a held node has no room for another report.
    bool Full() const {
        int waiting = 0;
        return ioctl(readFd_, FIONREAD, &waiting) == 0 &&
               waiting > kHeldRoom - static_cast<int>(kReportLength);
    }

  private:
    void Read() {
        std::vector<std::uint8_t> pending;
        for (;;) {
            pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {holdChanged_, POLLIN, 0}, {readFd_, POLLIN, 0}};
            if (poll(fds, held_.load() ? 2 : 3, -1) < 0 || fds[0].revents != 0) return;
            if (fds[1].revents != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t n = read(holdChanged_, &count, sizeof count);
                continue;
            }
            std::uint8_t buffer[4096];
            const ssize_t n = read(readFd_, buffer, sizeof buffer);
            if (n <= 0) continue;
            pending.insert(pending.end(), buffer, buffer + n);
            std::size_t used = 0;
            for (; pending.size() - used >= kReportLength; used += kReportLength) {
                device_->Write(pending.data() + used, kReportLength);
            }
            pending.erase(pending.begin(), pending.begin() + static_cast<long>(used));
        }
    }

    static constexpr std::size_t kReportLength = 8;
    static constexpr int kHeldRoom = 4096;
    std::filesystem::path root_;
    VirtualPanelBus bus_{VirtualDeviceConfig{}};
    std::unique_ptr<HidDevice> device_;
    int readFd_ = -1;
    int holdFd_ = -1;
    int wakeFd_ = -1;
    int holdChanged_ = -1;
    std::atomic<bool> held_{false};
    std::thread reader_;
};

}  // namespace zelk
