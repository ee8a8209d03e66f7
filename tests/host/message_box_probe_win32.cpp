// Test helper: waits for a message box with the given title, prints its text and the labels of
// its visible buttons, and presses its first button. Exit code 0 when a box was found, 1 when
// none appeared within the time given, 2 on bad arguments.
//   message_box_probe.exe <title> <milliseconds>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Search {
    const char* title;
    HWND found = nullptr;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    char class_name[64] = "";
    char title[256] = "";
    GetClassNameA(window, class_name, sizeof(class_name));
    GetWindowTextA(window, title, sizeof(title));
    if (std::string(class_name) == "#32770" && std::string(title) == search->title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct Buttons {
    std::vector<std::string> labels;
    std::vector<int> ids;
};

BOOL CALLBACK ListButtons(HWND window, LPARAM parameter) {
    auto* buttons = reinterpret_cast<Buttons*>(parameter);
    char class_name[64] = "";
    GetClassNameA(window, class_name, sizeof(class_name));
    if (std::string(class_name) == "Button" && IsWindowVisible(window)) {
        char label[64] = "";
        GetWindowTextA(window, label, sizeof(label));
        buttons->labels.emplace_back(label);
        buttons->ids.push_back(GetDlgCtrlID(window));
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    Search search{argv[1]};
    const DWORD limit = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    const DWORD start = GetTickCount();
    while (search.found == nullptr) {
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) break;
        if (GetTickCount() - start > limit) {
            std::printf("no message box\n");
            return 1;
        }
        Sleep(100);
    }
    // The text of a message box is its static control 0xFFFF.
    char text[1024] = "";
    GetDlgItemTextA(search.found, 0xFFFF, text, sizeof(text));
    Buttons buttons;
    EnumChildWindows(search.found, ListButtons, reinterpret_cast<LPARAM>(&buttons));
    std::printf("text=%s\n", text);
    std::string labels;
    for (const std::string& label : buttons.labels) labels += "[" + label + "]";
    std::printf("buttons=%s\n", labels.c_str());
    std::fflush(stdout);
    if (!buttons.ids.empty()) {
        PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(buttons.ids.front(), BN_CLICKED), 0);
    }
    return 0;
}
