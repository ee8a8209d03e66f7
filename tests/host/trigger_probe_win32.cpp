// Reads a service's triggers back from the service control manager and prints them, one line
// per trigger and per data item (strings as text, other data as hex), or the query's error.
//   trigger_probe <service name>
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

// The trigger configuration's layout, from the published API reference.
struct TriggerDataItem {
    DWORD type;
    DWORD size;
    BYTE* data;
};
struct TriggerEntry {
    DWORD type;
    DWORD action;
    GUID* subtype;
    DWORD data_count;
    TriggerDataItem* data;
};
struct TriggerInfo {
    DWORD count;
    TriggerEntry* triggers;
    BYTE* reserved;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trigger_probe NAME\n");
        return 2;
    }
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager == nullptr ? nullptr : OpenServiceA(manager, argv[1], SERVICE_QUERY_CONFIG);
    if (service == nullptr) {
        std::printf("open error %lu\n", GetLastError());
        return 1;
    }
    DWORD needed = 0;
    std::vector<BYTE> buffer(4096);
    if (!QueryServiceConfig2W(service, SERVICE_CONFIG_TRIGGER_INFO, buffer.data(),
                              static_cast<DWORD>(buffer.size()), &needed)) {
        std::printf("query error %lu\n", GetLastError());
    } else {
        const auto* info = reinterpret_cast<const TriggerInfo*>(buffer.data());
        std::printf("triggers %lu\n", info->count);
        for (DWORD i = 0; i < info->count; ++i) {
            const TriggerEntry& trigger = info->triggers[i];
            const GUID* g = trigger.subtype;
            std::printf("trigger type %lu action %lu class ", trigger.type, trigger.action);
            if (g == nullptr) {
                std::printf("none\n");
            } else {
                std::printf("{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}\n", g->Data1,
                            g->Data2, g->Data3, g->Data4[0], g->Data4[1], g->Data4[2], g->Data4[3],
                            g->Data4[4], g->Data4[5], g->Data4[6], g->Data4[7]);
            }
            for (DWORD j = 0; j < trigger.data_count; ++j) {
                const TriggerDataItem& item = trigger.data[j];
                std::printf("data type %lu size %lu ", item.type, item.size);
                for (DWORD k = 0; k < item.size; ++k) {
                    // UTF-16 text: print its ASCII characters, mark the rest.
                    if (item.type == 2 && k % 2 == 1) continue;
                    if (item.type == 2)
                        std::printf(item.data[k] >= 0x20 && item.data[k] < 0x7F ? "%c" : "<%02X>",
                                    item.data[k]);
                    else
                        std::printf("%02X", item.data[k]);
                }
                std::printf("\n");
            }
        }
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}
