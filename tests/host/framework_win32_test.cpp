// The Windows service framework object itself: control dispatch through its virtual handlers,
// status reports without an SCM connection, the debug run, failure texts from the program's
// string table and the system, and the settings store in the registry.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/host/service_framework.h"

namespace zelk {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

class TestService : public ServiceFramework {
  public:
    explicit TestService(const char* name)
        : ServiceFramework(name, "Host Test Service", 0x45, nullptr) {}

    std::vector<std::string> calls;
    std::vector<std::string> run_arguments;
    bool throw_in_run = false;

    void Run(std::uint32_t argc, char** argv) override {
        for (std::uint32_t i = 0; i < argc; ++i) run_arguments.emplace_back(argv[i]);
        if (throw_in_run) throw CNTServiceTerminateException(1066, 31);
    }
    void OnStop() override {
        std::lock_guard<std::recursive_mutex> guard(StatusLock());
        SetCurrentStateLocked(kServiceStopPending);
        calls.push_back("stop");
    }
    std::uint32_t OnPowerEvent(std::uint32_t type, void*) override {
        calls.push_back("power " + std::to_string(type));
        return 5;
    }
    void OnUserDefinedRequest(std::uint32_t control) override {
        calls.push_back("user " + std::to_string(control));
    }
};

std::string UniqueServiceName() {
    return "ZelkHostTest" + std::to_string(GetCurrentProcessId());
}

TEST(FrameworkWin32, ControlsRunTheOverridesAndStatusWithoutTheScmIsStoredButFails) {
    TestService service(UniqueServiceName().c_str());
    EXPECT_EQ(service.HandleControl(0, 0, nullptr), 120u);
    EXPECT_EQ(service.HandleControl(1, 0, nullptr), 0u);
    EXPECT_EQ(service.HandleControl(13, 4, nullptr), 5u);
    EXPECT_EQ(service.HandleControl(201, 0, nullptr), 0u);
    EXPECT_THAT(service.calls, ElementsAre("stop", "power 4", "user 201"));
    std::lock_guard<std::recursive_mutex> guard(service.StatusLock());
    EXPECT_EQ(service.CurrentStateLocked(), kServiceStopPending);
    EXPECT_FALSE(service.ReportStatus(kServiceStartPending, 1, 1100, kKeepStatusValue));
    EXPECT_FALSE(service.ReportCurrentStatus());
    EXPECT_EQ(service.CurrentStateLocked(), kServiceStartPending);
}

TEST(FrameworkWin32, DebugRunsOnThisThreadAndPassesTheTerminateCodesOn) {
    TestService service(UniqueServiceName().c_str());
    ServiceCommandLine line;
    line.action = kActionDebug;
    EXPECT_EQ(service.ExecuteCommand(line), 0u);
    ASSERT_FALSE(service.run_arguments.empty());
    EXPECT_EQ(service.run_arguments[0], std::string(__argv[0]));

    service.throw_in_run = true;
    EXPECT_EQ(service.ExecuteCommand(line), 1066u);
}

TEST(FrameworkWin32, FailureTextsComeFromTheStringTableAndTheSystem) {
    TestService service(UniqueServiceName().c_str());
    char systemText[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, systemText, sizeof(systemText),
                   nullptr);
    ASSERT_NE(systemText[0], '\0');
    EXPECT_EQ(service.FormatError(1, 5, true), std::string("5, ") + systemText);
    EXPECT_EQ(
        service.FormatError(1, 5, false),
        std::string("LumaraService::Install, Failed call to open SCM, Error:5, ") + systemText);
    EXPECT_THAT(service.FormatError(13, 1052, false),
                StartsWith("Failed to pause the service, Error:1052, "));
    // A system text with an insert of its own (193: "%1 is not a valid ...") is kept whole.
    char with_insert[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 193, 0,
                   with_insert, sizeof(with_insert), nullptr);
    ASSERT_NE(std::string(with_insert).find("%1"), std::string::npos);
    EXPECT_EQ(service.FormatError(10, 193, false),
              std::string("Failed to start the service, Error:193, ") + with_insert);
    // A code the system does not know: the number, a comma and a blank.
    EXPECT_EQ(service.FormatError(10, 0x2FFFFFFF, true), "805306367, ");
}

TEST(FrameworkWin32, SettingsRoundTripUnderTheParametersKeyAndNullsDelete) {
    const std::string name = UniqueServiceName();
    TestService service(name.c_str());
    EXPECT_TRUE(service.WriteSettingString("Panel", "Text", "hello"));
    EXPECT_TRUE(service.WriteSettingInt("Panel", "Number", 0xA4));
    const unsigned char bytes[] = {1, 0, 2};
    EXPECT_TRUE(service.WriteSettingBinary("Panel", "Bytes", bytes, sizeof(bytes)));
    EXPECT_TRUE(service.WriteSettingStringArray("Panel", "List", {"a", "bc"}));
    EXPECT_TRUE(service.WriteSettingStringArray("Panel", "Empty", {}));

    EXPECT_EQ(service.GetSettingString("Panel", "Text", "x"), "hello");
    EXPECT_EQ(service.GetSettingInt("Panel", "Number", 7), 0xA4u);
    std::unique_ptr<std::uint8_t[]> data;
    std::uint32_t size = 99;
    ASSERT_TRUE(service.GetSettingBinary("Panel", "Bytes", data, size));
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(data[2], 2);
    std::vector<std::string> list = {"stale"};
    EXPECT_TRUE(service.GetSettingStringArray("Panel", "List", list));
    EXPECT_THAT(list, ElementsAre("a", "bc"));
    EXPECT_TRUE(service.GetSettingStringArray("Panel", "Empty", list));
    EXPECT_TRUE(list.empty());
    // Stored as a REG_SZ with its NUL, where the system expects it.
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\" + name;
    char text[16] = "";
    DWORD text_size = sizeof(text);
    DWORD type = 0;
    EXPECT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, (key + "\\Parameters\\Panel").c_str(), "Text",
                           RRF_RT_ANY, &type, text, &text_size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(text_size, 6u);

    // Missing values give the defaults; a null name deletes the whole section.
    EXPECT_EQ(service.GetSettingString("Nothing", "Text", "fallback"), "fallback");
    data = std::make_unique<std::uint8_t[]>(1);
    EXPECT_FALSE(service.GetSettingBinary("Nothing", "Bytes", data, size));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(service.WriteSettingString("Panel", nullptr, nullptr));
    EXPECT_EQ(service.GetSettingInt("Panel", "Number", 9), 9u);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
}

}  // namespace
}  // namespace zelk
