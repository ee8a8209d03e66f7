// Taking the panel into use at start-up: the properties from DisplayProps.xml, the open device,
// the configured brightness and the prepared text converter.
#pragma once

#include <cstdint>
#include <string>

#include "service/panel/display_props.h"
#include "service/panel/panel_config.h"
#include "service/panel/panel_device.h"

namespace zelk {

// Opens the panel `config` names, sends its brightness (with or without a panel; without one
// the write fails with 6, which is ignored) and prepares the text converter from code page 1252
// to 850. Returns 0, or 1167 when no panel matches.
std::uint32_t StartPanel(PanelDevice& panel, const PanelConfig& config);

// Reads DisplayProps.xml at `path` and starts the panel from it. Returns 0, 1167 (no panel), or
// 2 when the file cannot be loaded (missing, malformed, no parser, a failed load call, an empty
// path): then nothing else is done, the panel is left as constructed.
std::uint32_t InitializePanel(PanelDevice& panel, const std::string& path, XmlLoader& loader);

}  // namespace zelk
