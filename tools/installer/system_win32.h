// The installer's system services on Windows.
#pragma once

#include "tools/installer/driver_install.h"

namespace zelk {

class Win32DriverInstallSystem final : public DriverInstallSystem {
  public:
    std::optional<std::string> CurrentDirectory(std::size_t room) override;
    bool CopyInf(const std::string& inf_path, const std::string& source_dir) override;
    int UpdateDriver(const char* hardware_id, const std::string& inf_path,
                     std::uint32_t flags) override;
    std::uint32_t LastError() override;
};

}  // namespace zelk
