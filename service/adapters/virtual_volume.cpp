#include "service/adapters/virtual_volume.h"

#include <algorithm>

namespace zelk {

class SimVolumeSource::Monitor : public VolumeMonitor {
  public:
    Monitor(SimVolumeSource& source, void* context) : source_(source), context_(context) {}

    ~Monitor() override {
        std::lock_guard<std::mutex> guard(source_.lock_);
        auto& list = source_.monitors_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }

    bool IsVolumeAvailable() override { return source_.Volume() != -1; }
    void Unmute() override {
        {
            std::lock_guard<std::mutex> guard(source_.lock_);
            ++source_.unmutes_;
        }
        source_.SetMute(false);
    }
    void Mute() override { source_.SetMute(true); }
    std::int32_t GetVolumeSteps() override { return IsVolumeAvailable() ? 65536 : -1; }
    std::int32_t GetVolumeMinimum() override { return IsVolumeAvailable() ? 0 : -1; }
    std::int32_t GetVolumeMaximum() override { return IsVolumeAvailable() ? 65535 : -1; }
    std::int32_t GetVolume() override { return source_.Volume(); }
    void SetVolume(std::uint32_t value) override {
        if (IsVolumeAvailable() && value <= 65535) {
            source_.SetVolume(static_cast<std::int32_t>(value));
        }
    }
    void SetCallback(VolumeCallback callback, std::int32_t data) override {
        std::lock_guard<std::mutex> guard(lock_);
        callback_ = callback;
        data_ = data;
    }
    std::int32_t GetControlValue(std::uint32_t) override { return source_.Volume(); }

    void RunNotificationLoop() override {
        std::unique_lock<std::mutex> lock(lock_);
        for (;;) {
            changed_.wait(lock, [this] { return quit_ || !notices_.empty(); });
            if (quit_) {
                return;
            }
            const auto [value, flag] = notices_.front();
            notices_.pop_front();
            const VolumeCallback callback = callback_;
            const std::int32_t data = data_;
            lock.unlock();
            if (callback != nullptr) {
                callback(value, value == -1 ? flag : data, context_);
            }
            lock.lock();
        }
    }

    void Quit() override {
        {
            std::lock_guard<std::mutex> guard(lock_);
            quit_ = true;
        }
        changed_.notify_all();
    }

    bool HasCallback() {
        std::lock_guard<std::mutex> guard(lock_);
        return callback_ != nullptr;
    }

    void Post(std::int32_t value, std::int32_t flag) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (callback_ == nullptr) {
                return;
            }
            notices_.emplace_back(value, flag);
        }
        changed_.notify_all();
    }

  private:
    SimVolumeSource& source_;
    void* context_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::pair<std::int32_t, std::int32_t>> notices_;
    VolumeCallback callback_ = nullptr;
    std::int32_t data_ = 0;
    bool quit_ = false;
};

std::unique_ptr<VolumeMonitor> SimVolumeSource::MakeMonitor(void* context) {
    auto monitor = std::make_unique<Monitor>(*this, context);
    std::lock_guard<std::mutex> guard(lock_);
    monitors_.push_back(monitor.get());
    ++made_;
    return monitor;
}

void SimVolumeSource::SetVolume(std::int32_t volume) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        volume_ = volume;
    }
    Notify(volume, 0);
}

void SimVolumeSource::SetMute(bool muted) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        muted_ = muted;
    }
    Notify(-1, muted ? 1 : 0);
}

void SimVolumeSource::Notify(std::int32_t value, std::int32_t flag) {
    std::lock_guard<std::mutex> guard(lock_);
    for (Monitor* monitor : monitors_) {
        monitor->Post(value, flag);
    }
}

std::int32_t SimVolumeSource::Volume() const {
    std::lock_guard<std::mutex> guard(lock_);
    return volume_;
}

bool SimVolumeSource::Muted() const {
    std::lock_guard<std::mutex> guard(lock_);
    return muted_;
}

int SimVolumeSource::MonitorsMade() const {
    std::lock_guard<std::mutex> guard(lock_);
    return made_;
}

int SimVolumeSource::Listening() const {
    std::lock_guard<std::mutex> guard(lock_);
    int listening = 0;
    for (Monitor* monitor : monitors_) {
        if (monitor->HasCallback()) ++listening;
    }
    return listening;
}

int SimVolumeSource::Unmutes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return unmutes_;
}

}  // namespace zelk
