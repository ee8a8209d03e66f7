#include "service/adapters/virtual_volume.h"

#include <algorithm>

namespace zelk {

class SimVolumeSource::Monitor : public VolumeMonitor {
  public:
    Monitor(SimVolumeSource& source, void* context) : source_(source), context_(context) {}

    ~Monitor() override {
        MutexLock guard(source_.lock_);
        auto& list = source_.monitors_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }

    bool IsVolumeAvailable() override { return source_.Volume() != -1; }
    void Unmute() override {
        {
            MutexLock guard(source_.lock_);
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
        MutexLock guard(lock_);
        callback_ = callback;
        data_ = data;
    }
    std::int32_t GetControlValue(std::uint32_t) override { return source_.Volume(); }

    void RunNotificationLoop() override {
        for (;;) {
            std::pair<std::int32_t, std::int32_t> notice;
            VolumeCallback callback;
            std::int32_t data;
            {
                MutexLock guard(lock_);
                while (!quit_ && notices_.empty()) {
                    changed_.Wait(lock_);
                }
                if (quit_) {
                    return;
                }
                notice = notices_.front();
                notices_.pop_front();
                callback = callback_;
                data = data_;
            }
            const auto [value, flag] = notice;
            if (callback != nullptr) {
                callback(value, value == -1 ? flag : data, context_);
            }
        }
    }

    void Quit() override {
        {
            MutexLock guard(lock_);
            quit_ = true;
        }
        changed_.NotifyAll();
    }

    bool HasCallback() {
        MutexLock guard(lock_);
        return callback_ != nullptr;
    }

    void Post(std::int32_t value, std::int32_t flag) {
        {
            MutexLock guard(lock_);
            if (callback_ == nullptr) {
                return;
            }
            notices_.emplace_back(value, flag);
        }
        changed_.NotifyAll();
    }

  private:
    SimVolumeSource& source_;
    void* context_;
    Mutex lock_;
    CondVar changed_;
    std::deque<std::pair<std::int32_t, std::int32_t>> notices_ GUARDED_BY(lock_);
    VolumeCallback callback_ GUARDED_BY(lock_) = nullptr;
    std::int32_t data_ GUARDED_BY(lock_) = 0;
    bool quit_ GUARDED_BY(lock_) = false;
};

std::unique_ptr<VolumeMonitor> SimVolumeSource::MakeMonitor(void* context) {
    auto monitor = std::make_unique<Monitor>(*this, context);
    MutexLock guard(lock_);
    monitors_.push_back(monitor.get());
    ++made_;
    return monitor;
}

void SimVolumeSource::SetVolume(std::int32_t volume) {
    {
        MutexLock guard(lock_);
        volume_ = volume;
    }
    Notify(volume, 0);
}

void SimVolumeSource::SetMute(bool muted) {
    {
        MutexLock guard(lock_);
        muted_ = muted;
    }
    Notify(-1, muted ? 1 : 0);
}

void SimVolumeSource::Notify(std::int32_t value, std::int32_t flag) {
    MutexLock guard(lock_);
    for (Monitor* monitor : monitors_) {
        monitor->Post(value, flag);
    }
}

std::int32_t SimVolumeSource::Volume() const {
    MutexLock guard(lock_);
    return volume_;
}

bool SimVolumeSource::Muted() const {
    MutexLock guard(lock_);
    return muted_;
}

int SimVolumeSource::MonitorsMade() const {
    MutexLock guard(lock_);
    return made_;
}

int SimVolumeSource::Listening() const {
    MutexLock guard(lock_);
    int listening = 0;
    for (Monitor* monitor : monitors_) {
        if (monitor->HasCallback()) ++listening;
    }
    return listening;
}

int SimVolumeSource::Unmutes() const {
    MutexLock guard(lock_);
    return unmutes_;
}

}  // namespace zelk
