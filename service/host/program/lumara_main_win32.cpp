// Lumara.exe: the panel service's process entry. Without an option the program connects to the
// service control manager as the service; with one it runs that command (install, uninstall,
// start, pause, continue, stop, debug, help) and ends. No message loop runs either way.
#include <windows.h>

#include <memory>

#include "service/host/command_line.h"
#include "service/host/lumara_scm_service.h"

namespace zelk {

// The application object: its instance initialisation is the whole life of the process.
class ServiceApp {
  public:
    virtual ~ServiceApp() = default;
    // Runs the command of the command line; false: end the process without a message loop.
    virtual bool InitInstance();
};

bool ServiceApp::InitInstance() {
    ServiceCommandLine command_line;
    auto service = std::make_unique<LumaraScmService>();
    service->ParseArguments(command_line);
    // The command's result is shown to the user by the command itself; it is not the
    // process's exit status.
    service->ExecuteCommand(command_line);
    service.reset();
    return false;
}

}  // namespace zelk

namespace {

zelk::ServiceApp the_app;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    the_app.InitInstance();
    return 0;
}
