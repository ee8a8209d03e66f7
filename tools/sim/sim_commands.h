// The simulator's commands on standard input and its stand-in for DisplayProps.xml.
#pragma once

#include <string>

#include "service/core/lumara_service.h"
#include "service/panel/display_props.h"
#include "service/panel/virtual_panel.h"
#include "service/adapters/virtual_volume.h"
#include "tools/sim/sim_clock.h"

namespace zelk {

// Carries out one command line (stop, shutdown, suspend, resume, resume-automatic, control N,
// volume N, mute 0|1; unplug and plug, which take the virtual panel `bus`'s first device away
// and give it back; advance TIME, which moves `clock` forward and has the service look at the
// time again; blank lines do nothing). False with `error` set for anything else.
bool RunSimCommand(const std::string& line, LumaraService& service, SimVolumeSource& volume,
                   VirtualPanelBus* bus, std::string& error, SimClock* clock = nullptr);

// The panel the simulator describes when no DisplayProps.xml is given or found: the panel's
// own ids, two rows of twelve columns.
XmlNode BuiltInDisplayProps();

// Loads files through another loader, or gives the built-in description when `builtIn`.
class SimXmlLoader : public XmlLoader {
  public:
    SimXmlLoader(XmlLoader& files, bool builtIn) : files_(files), builtIn_(builtIn) {}
    XmlLoadStatus Load(const std::string& path, XmlNode& root, std::uint32_t& error) override;

  private:
    XmlLoader& files_;
    bool builtIn_;
};

}  // namespace zelk
