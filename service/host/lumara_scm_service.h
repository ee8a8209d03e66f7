// The panel service as the service control manager runs it: the framework with the service's
// identity and installation parameters, hosting the service's work (Run and the control
// handlers of LumaraService) and showing the usage text. Windows build only.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "service/core/lumara_service.h"
#include "service/core/service_host.h"
#include "service/host/service_framework.h"

namespace zelk {

inline constexpr std::uint32_t kLumaraControlsAccepted = 0x45;  // stop, shutdown, power events
inline constexpr char kLumaraDescription[] = "Service controlling front panel display for ZELK";
inline constexpr char kLumaraUsageText[] =
    "A service for displaying media center information on a front panel display.\n"
    "Usage: testsrv [-install | -uninstall | -help]\n";

class LumaraScmService final : public ServiceFramework {
  public:
    LumaraScmService();
    ~LumaraScmService() override;

    void Run(std::uint32_t argc, char** argv) override;
    void OnStop() override;
    void OnPause() override;
    void OnContinue() override;
    void OnShutdown() override;
    std::uint32_t OnPowerEvent(std::uint32_t eventType, void* eventData) override;
    void OnUserDefinedRequest(std::uint32_t control) override;
    void ShowHelp() override;

    std::uint32_t StartType() const { return startType_; }

  private:
    // What the service's work sees of the framework.
    class Host final : public ServiceHost {
      public:
        explicit Host(LumaraScmService& service) : service_(service) {}
        bool ReportStatus(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint,
                          std::uint32_t controlsAccepted) override;
        void LogEvent(std::uint16_t type, std::uint32_t eventId, const char* text) override;
        void MessageBeep(std::uint32_t type) override;
        void SetCurrentState(std::uint32_t state,
                             const std::function<void()>& alsoUnderLock) override;
        std::uint32_t CurrentState() override;

      private:
        LumaraScmService& service_;
    };

    Host host_;
    std::unique_ptr<LumaraService> work_;
};

}  // namespace zelk
