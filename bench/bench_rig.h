// The whole service in the benchmark's process, on real time: the virtual panel, a volume
// source, the platform pipe under a name of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "common/pipe_message.h"
#include "service/core/lumara_service.h"
#include "service/core/service_runner.h"
#include "service/core/service_host.h"
#include "service/panel/virtual_panel.h"
#include "common/pipe_client.h"
#include "tools/sim/sim_commands.h"
#include "service/adapters/virtual_volume.h"

namespace zelk {

class BenchService {
  public:
    // `lcdServer`: the LCDproc server beside the pipe (off unless enabled).
    explicit BenchService(const LcdServerConfig& lcdServer = {})
        : pipeName_("ZELK_BENCH_" + std::to_string(std::random_device{}())) {
        VirtualEnvironmentOptions parts;
        parts.bus = &bus;
        parts.volume = &volume;
        parts.xmlLoader = &loader_;
        parts.propsPath = "(built in)";
        parts.pipeName = pipeName_;
        parts.lcdServer = lcdServer;
        service = std::make_unique<LumaraService>(host, MakeVirtualEnvironment(parts));
        runner_ = std::make_unique<ServiceRunner>(*service);
        runner_->Start();
        host.WaitForReport(kServiceRunning, 10000);
        service->WaitUntilPipeServed(10000);
    }
    ~BenchService() {
        runner_->RequestStop();
        runner_->Wait();
    }
    const std::string& PipeName() const { return pipeName_; }
    std::uint32_t Send(std::int32_t tag, const char* text, std::int32_t session = 1) {
        const PipeMessage m = MakePipeMessage(session, tag, text, std::strlen(text));
        return SendPipeRecord(pipeName_, m);
    }

    VirtualPanelBus bus{VirtualDeviceConfig{}};
    SimVolumeSource volume{32768};
    StandaloneServiceHost host;
    std::unique_ptr<LumaraService> service;

  private:
    class BuiltIn : public XmlLoader {
      public:
        XmlLoadStatus Load(const std::string&, XmlNode& root, std::uint32_t& error) override {
            root = BuiltInDisplayProps();
            error = 0;
            return XmlLoadStatus::kLoaded;
        }
    } loader_;
    std::string pipeName_;
    std::unique_ptr<ServiceRunner> runner_;
};

// "--name N" from the command line, else `fallback`.
inline long OptionValue(int argc, char** argv, const char* name, long fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return std::strtol(argv[i + 1], nullptr, 10);
    }
    return fallback;
}

}  // namespace zelk
