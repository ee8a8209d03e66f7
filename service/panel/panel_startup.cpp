// The panel's start-up sequence.
#include "service/panel/panel_startup.h"

#include "common/win_codes.h"
#include "service/adapters/text_converter.h"

namespace zelk {

std::uint32_t StartPanel(PanelDevice& panel, const PanelConfig& config) {
    std::uint32_t result = kErrorSuccess;
    {
        PanelFrame frame = panel.BeginFrame();
        if (!frame.OpenPanel(config)) result = kErrorDeviceNotConnected;
        frame.SendOpeningReports(false);  // the clear follows once the service has started
    }
    TextConverter& converter = panel.Converter();
    converter.Open();  // the code pages are asked for whatever Open answered
    converter.SetCodePages(kCodePageWindowsLatin1, kCodePageDosLatin1, kConvertNoBestFitChars);
    return result;
}

std::uint32_t InitializePanel(PanelDevice& panel, const std::string& path, XmlLoader& loader) {
    PanelConfig config;
    const std::uint32_t read = ReadDisplayProps(path, loader, config);
    if (read != kErrorSuccess) return read;
    return StartPanel(panel, config);
}

}  // namespace zelk
