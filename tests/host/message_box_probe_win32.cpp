// Test helper: waits for a message box with the given title, prints its text and the labels of
// its visible buttons, and presses its first button. Exit code 0 when a box was found, 1 when
// none appeared within the time given, 2 on bad arguments.
//   message_box_probe.exe <title> <milliseconds>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Search {
    const char* title = nullptr;
    HWND found = nullptr;
    std::string labels;  // "[OK][Cancel]"
    int first_button = 0;
};

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    char title[256] = "";
    GetWindowTextA(window, title, sizeof(title));
    if (ClassOf(window) != "#32770" || std::string(title) != search->title) return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK ListButtons(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    if (ClassOf(window) == "Button" && IsWindowVisible(window)) {
        char label[64] = "";
        GetWindowTextA(window, label, sizeof(label));
        if (search->labels.empty()) search->first_button = GetDlgCtrlID(window);
        search->labels.append("[").append(label).append("]");
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    Search search;
    search.title = argv[1];
    const DWORD limit = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    const DWORD start = GetTickCount();
    while (EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search)), search.found == nullptr) {
        if (GetTickCount() - start > limit) {
            std::printf("no message box\n");
            return 1;
        }
        Sleep(100);
    }
    // The text of a message box is its static control 0xFFFF.
    char text[1024] = "";
    GetDlgItemTextA(search.found, 0xFFFF, text, sizeof(text));
    EnumChildWindows(search.found, ListButtons, reinterpret_cast<LPARAM>(&search));
    std::printf("text=%s\nbuttons=%s\n", text, search.labels.c_str());
    std::fflush(stdout);
    if (!search.labels.empty()) {
        PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(search.first_button, BN_CLICKED), 0);
    }
    return 0;
}
