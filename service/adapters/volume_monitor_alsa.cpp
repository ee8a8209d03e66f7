// The master volume monitor over the ALSA mixer of the "default" card: the "Master" playback
// volume scaled to 0..65535 and the playback switch. Control 2 is the volume and control 1
// the switch, read as a mute control (1 muted, 0 sound on). Without a card (or without a
// "Master" element) the monitor is inert: every getter gives -1 and no callback comes.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <mutex>  // std::call_once
#include <vector>

#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "service/adapters/volume_monitor_base.h"

namespace zelk {
namespace {

constexpr std::uint32_t kAlsaVolumeControlId = 2;
constexpr char kCardName[] = "default";
constexpr char kElementName[] = "Master";

// Failures are silent, as on Windows: keep ALSA's own complaints off standard error.
void SilentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

class AlsaVolumeMonitor final : public VolumeMonitorBase {
  public:
    explicit AlsaVolumeMonitor(void* context) : VolumeMonitorBase(context) {
        wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        MutexLock guard(lock_);  // no other thread yet; the lock keeps the rule
        Open();
    }

    ~AlsaVolumeMonitor() override {
        if (mixer_ != nullptr) {
            snd_mixer_close(mixer_);
        }
        if (wake_ >= 0) {
            close(wake_);
        }
    }

    AlsaVolumeMonitor(const AlsaVolumeMonitor&) = delete;
    AlsaVolumeMonitor& operator=(const AlsaVolumeMonitor&) = delete;

    std::int32_t GetControlValue(std::uint32_t controlId) override {
        if (!volumeUsable_) {
            return -1;
        }
        MutexLock guard(lock_);
        return ReadControl(controlId);
    }

    void RunNotificationLoop() override {
        if (wake_ < 0 || quitSeen_) {
            return;
        }
        for (;;) {
            std::vector<pollfd> fds(1);
            fds[0] = {wake_, POLLIN, 0};
            int mixerCount = 0;
            {
                MutexLock guard(lock_);
                if (mixer_ != nullptr) {
                    mixerCount = snd_mixer_poll_descriptors_count(mixer_);
                    if (mixerCount > 0) {
                        fds.resize(1 + static_cast<std::size_t>(mixerCount));
                        mixerCount = snd_mixer_poll_descriptors(mixer_, &fds[1],
                                                                static_cast<unsigned>(mixerCount));
                        fds.resize(1 + static_cast<std::size_t>(mixerCount > 0 ? mixerCount : 0));
                    }
                }
            }
            const int ready = poll(fds.data(), fds.size(), -1);
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t n = read(wake_, &count, sizeof count);
                quitSeen_ = true;  // later loops end at once too
                return;
            }
            if (mixerCount > 0) {
                HandleMixerEvents(&fds[1], static_cast<unsigned>(mixerCount));
            }
        }
    }

    void Quit() override {
        if (wake_ >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = write(wake_, &one, sizeof one);
        }
    }

  protected:
    void ApplyOutputSwitches(bool on) override {
        MutexLock guard(lock_);
        if (element_ == nullptr || !snd_mixer_selem_has_playback_switch(element_)) {
            return;
        }
        const auto value = OutputSwitchValue(OutputSwitchKind::kEnable, on);
        snd_mixer_selem_set_playback_switch_all(element_, *value);
    }

    void WriteVolume(std::uint32_t value) override {
        MutexLock guard(lock_);
        if (element_ == nullptr) {
            return;
        }
        snd_mixer_selem_set_playback_volume_all(
            element_, ScaleFromFullRange(value, rawMinimum_, rawMaximum_));
    }

  private:
    void Open() REQUIRES(lock_) {
        static std::once_flag silenced;
        std::call_once(silenced, [] { snd_lib_error_set_handler(&SilentAlsaErrors); });

        if (snd_mixer_open(&mixer_, 0) < 0) {
            mixer_ = nullptr;
            return;
        }
        snd_mixer_selem_id_t* id = nullptr;
        if (snd_mixer_attach(mixer_, kCardName) < 0 ||
            snd_mixer_selem_register(mixer_, nullptr, nullptr) < 0 || snd_mixer_load(mixer_) < 0 ||
            snd_mixer_selem_id_malloc(&id) < 0) {
            Close();
            return;
        }
        snd_mixer_selem_id_set_name(id, kElementName);
        snd_mixer_selem_id_set_index(id, 0);
        element_ = snd_mixer_find_selem(mixer_, id);
        snd_mixer_selem_id_free(id);
        if (element_ == nullptr) {
            Close();
            return;
        }
        long minimum = 0;
        long maximum = 0;
        if (snd_mixer_selem_has_playback_volume(element_) &&
            snd_mixer_selem_get_playback_volume_range(element_, &minimum, &maximum) == 0 &&
            maximum > minimum) {
            rawMinimum_ = minimum;
            rawMaximum_ = maximum;
            volumeUsable_ = true;
            volumeMinimum_ = 0;
            volumeMaximum_ = 65535;
            volumeSteps_ =
                static_cast<std::int32_t>(maximum - minimum > 65535 ? 65535 : maximum - minimum);
        }
        volumeControlId_ = kAlsaVolumeControlId;
        lastVolume_ = ReadControl(kAlsaVolumeControlId);
        lastMute_ = ReadControl(kMuteControlId);
    }

    void Close() REQUIRES(lock_) {
        if (mixer_ != nullptr) {
            snd_mixer_close(mixer_);
            mixer_ = nullptr;
        }
        element_ = nullptr;
    }

    std::int32_t ReadControl(std::uint32_t controlId) REQUIRES(lock_) {
        if (element_ == nullptr) {
            return -1;
        }
        if (controlId == kAlsaVolumeControlId && volumeUsable_) {
            long raw = 0;
            if (snd_mixer_selem_get_playback_volume(element_, SND_MIXER_SCHN_FRONT_LEFT, &raw) <
                0) {
                return -1;
            }
            return ScaleToFullRange(raw, rawMinimum_, rawMaximum_);
        }
        if (controlId == kMuteControlId && snd_mixer_selem_has_playback_switch(element_)) {
            int on = 0;
            if (snd_mixer_selem_get_playback_switch(element_, SND_MIXER_SCHN_FRONT_LEFT, &on) < 0) {
                return -1;
            }
            return on != 0 ? 0 : 1;
        }
        return -1;
    }

    // Lets ALSA take in what the descriptors announced, then reports the controls whose
    // values moved.
    void HandleMixerEvents(pollfd* fds, unsigned count) {
        std::int32_t volume;
        std::int32_t mute;
        bool volumeChanged;
        bool muteChanged;
        {
            MutexLock guard(lock_);
            unsigned short revents = 0;
            if (snd_mixer_poll_descriptors_revents(mixer_, fds, count, &revents) < 0 ||
                (revents & (POLLIN | POLLERR | POLLHUP)) == 0) {
                return;
            }
            if ((revents & (POLLERR | POLLHUP)) != 0) {
                // The card went away: stop listening; reads answer -1 from now on.
                Close();
                return;
            }
            snd_mixer_handle_events(mixer_);
            volume = ReadControl(kAlsaVolumeControlId);
            mute = ReadControl(kMuteControlId);
            volumeChanged = volume != lastVolume_;
            muteChanged = mute != lastMute_;
            lastVolume_ = volume;
            lastMute_ = mute;
        }
        if (volumeChanged) {
            OnControlChange(kAlsaVolumeControlId);
        }
        if (muteChanged) {
            OnControlChange(kMuteControlId);
        }
    }

    Mutex lock_;
    snd_mixer_t* mixer_ GUARDED_BY(lock_) = nullptr;
    snd_mixer_elem_t* element_ GUARDED_BY(lock_) = nullptr;
    long rawMinimum_ GUARDED_BY(lock_) = 0;
    long rawMaximum_ GUARDED_BY(lock_) = 0;
    std::int32_t lastVolume_ GUARDED_BY(lock_) = -1;
    std::int32_t lastMute_ GUARDED_BY(lock_) = -1;
    int wake_ = -1;
    bool quitSeen_ = false;  // touched by the loop's thread only
};

}  // namespace

std::unique_ptr<VolumeMonitor> CreateSystemVolumeMonitor(void* context) {
    return std::make_unique<AlsaVolumeMonitor>(context);
}

}  // namespace zelk
