// Replays a panel report log (one report a line, bytes in hexadecimal) into a virtual panel and
// prints what the panel then shows: both lines and the lit icons.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "service/panel/virtual_panel.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: panel_replay REPORT_LOG\n");
        return 2;
    }
    std::ifstream log(argv[1]);
    if (!log) {
        std::fprintf(stderr, "panel_replay: cannot read %s\n", argv[1]);
        return 1;
    }
    zelk::VirtualPanelBus bus{zelk::VirtualDeviceConfig{}};
    const std::vector<std::string> paths = bus.EnumerateInterfaces();
    auto device = paths.empty() ? nullptr : bus.Open(paths.front());
    if (!device) {
        std::fprintf(stderr, "panel_replay: no virtual panel\n");
        return 1;
    }
    std::string line;
    while (std::getline(log, line)) {
        std::istringstream bytes(line);
        std::vector<std::uint8_t> report;
        unsigned value = 0;
        while (bytes >> std::hex >> value) {
            report.push_back(static_cast<std::uint8_t>(value));
        }
        if (!report.empty()) {
            device->Write(report.data(), report.size());
        }
    }
    const zelk::PanelPicture picture = bus.Picture();
    std::cout << "line0: " << picture.Line(0, 12) << "\n";
    std::cout << "line1: " << picture.Line(1, 12) << "\n";
    std::cout << "status:";
    for (const std::string& name : zelk::StatusIconNames(picture.statusIcons)) {
        std::cout << " [" << name << "]";
    }
    std::cout << "\nmedia:";
    for (const std::string& name : zelk::MediaIconNames(picture.mediaIcons)) {
        std::cout << " [" << name << "]";
    }
    std::cout << "\n";
    return 0;
}
