// Records as the pipe server reads them, applied to the media state and drawn on the virtual
// panel: the input is a run of reads, each a length byte (times 2, so a whole record fits)
// followed by that many bytes.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/pipe_message.h"
#include "fuzz/fuzz_support.h"
#include "service/adapters/text_converter.h"
#include "service/core/display_composition.h"
#include "service/core/media_state.h"
#include "service/panel/virtual_panel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zelk;
    static fuzz::NoSleeper sleeper;
    VirtualPanelBus bus{VirtualDeviceConfig{}};
    PanelDevice panel(bus, CreateSystemTextConverter(), sleeper);
    panel.OpenPanel();
    panel.Converter().Open();
    panel.Converter().SetCodePages(kCodePageWindowsLatin1, kCodePageDosLatin1,
                                   kConvertNoBestFitChars);
    MediaState state;
    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t length = std::min<std::size_t>(data[pos] * 2u, size - pos - 1);
        PipeMessage message;
        if (ReadPipeRecord(data + pos + 1, length, message)) {
            state.ApplyPipeMessage(message);
            ShowMediaState(panel, state);
        }
        pos += 1 + length;
    }
    return 0;
}
