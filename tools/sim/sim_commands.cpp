#include "tools/sim/sim_commands.h"

#include <sstream>

#include "tools/sim/sim_options.h"

namespace zelk {

namespace {

XmlNode Element(const std::string& name, const std::string& text = "") {
    XmlNode node;
    node.isElement = true;
    node.tagName = name;
    node.text = text;
    return node;
}

}  // namespace

bool RunSimCommand(const std::string& line, LumaraService& service, SimVolumeSource& volume,
                   VirtualPanelBus* bus, std::string& error, SimClock* clock) {
    std::istringstream words(line);
    std::string command, argument, extra;
    words >> command;
    const bool hasArgument = static_cast<bool>(words >> argument);
    const bool hasExtra = static_cast<bool>(words >> extra);
    if (command.empty()) {
        return true;
    }
    if (hasExtra) {
        error = "too many words: " + line;
        return false;
    }

    struct Plain {
        const char* name;
        void (*act)(LumaraService&);
    };
    static const Plain plain[] = {
        {"stop", [](LumaraService& s) { s.OnStop(); }},
        {"shutdown", [](LumaraService& s) { s.OnShutdown(); }},
        {"suspend", [](LumaraService& s) { s.OnPowerEvent(kPowerSuspend, nullptr); }},
        {"resume", [](LumaraService& s) { s.OnPowerEvent(kPowerResumeSuspend, nullptr); }},
        {"resume-automatic",
         [](LumaraService& s) { s.OnPowerEvent(kPowerResumeAutomatic, nullptr); }},
    };
    for (const Plain& p : plain) {
        if (command == p.name) {
            if (hasArgument) {
                error = command + " takes no value";
                return false;
            }
            p.act(service);
            return true;
        }
    }

    if (command == "unplug" || command == "plug") {
        if (hasArgument) {
            error = command + " takes no value";
            return false;
        }
        if (bus == nullptr || bus->DeviceCount() == 0) {
            error = "there is no virtual panel to " + command;
            return false;
        }
        bus->SetUnplugged(0, command == "unplug");
        return true;
    }

    if (command == "advance") {
        const auto ms = hasArgument ? ParseTimeSpanMs(argument) : std::nullopt;
        if (!ms) {
            error = "advance needs a time, for example: advance 5m (or 300, 90s, 8h)";
            return false;
        }
        if (clock == nullptr) {
            error = "the time cannot be moved here";
            return false;
        }
        clock->Advance(*ms);
        service.Nudge();
        return true;
    }

    bool valid = false;
    std::int32_t value = 0;
    if (hasArgument) {
        if (const auto parsed = ParseDecimal(argument)) {
            valid = true;
            value = *parsed;
        }
    }
    if (command == "control") {
        if (!valid || value < 0) {
            error = "control needs a control code, for example: control 201";
            return false;
        }
        service.OnUserDefinedRequest(static_cast<std::uint32_t>(value));
        return true;
    }
    if (command == "volume") {
        if (!valid || value < 0 || value > 65535) {
            error = "volume needs a value from 0 to 65535";
            return false;
        }
        volume.SetVolume(value);
        return true;
    }
    if (command == "mute") {
        if (!valid || (value != 0 && value != 1)) {
            error = "mute needs 0 or 1";
            return false;
        }
        volume.SetMute(value == 1);
        return true;
    }
    error = "unknown command: " + command;
    return false;
}

XmlNode BuiltInDisplayProps() {
    XmlNode display = Element("Display");
    display.children = {Element("VID", "1F3C"), Element("PID", "5A41"),
                        Element("Type", "Alphanumeric"), Element("DisplayRows", "2"),
                        Element("DisplayColumns", "12")};
    XmlNode root = Element("DisplayProperties");
    root.children.push_back(display);
    return root;
}

XmlLoadStatus SimXmlLoader::Load(const std::string& path, XmlNode& root, std::uint32_t& error) {
    if (builtIn_) {
        root = BuiltInDisplayProps();
        error = 0;
        return XmlLoadStatus::kLoaded;
    }
    return files_.Load(path, root, error);
}

}  // namespace zelk
