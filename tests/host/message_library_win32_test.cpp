// Lumara.DLL, the event message library: every event id the service writes has a message, and
// each message takes the insertion strings its event carries.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "service/host/event_log_source.h"

namespace zelk {
namespace {

class MessageLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        module_ = LoadLibraryExA(LUMARA_MESSAGE_DLL, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << LUMARA_MESSAGE_DLL << " error " << GetLastError();
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    // The message of `id` with "<first>" and "<second>" inserted; empty when there is none.
    std::string Message(DWORD id) {
        char first[] = "<first>";
        char second[] = "<second>";
        DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(first),
                               reinterpret_cast<DWORD_PTR>(second)};
        char text[1024] = "";
        const DWORD length =
            FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module_, id,
                           MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof(text),
                           reinterpret_cast<va_list*>(inserts));
        return length == 0 ? std::string() : std::string(text, length);
    }

    HMODULE module_ = nullptr;
};

TEST_F(MessageLibraryTest, EveryEventIdHasAMessageWithItsInsertionStrings) {
    const DWORD one_string[] = {
        kEventIdServiceStarted, kEventIdInstalled,         kEventIdUninstalled,
        kEventIdServiceStopped, kEventIdServicePaused,     kEventIdServiceContinued,
        kEventIdOpenScmFailed,  kEventIdOpenServiceFailed, kEventIdDeleteServiceFailed,
        kEventIdStartFailed,    kEventIdStopFailed,        kEventIdContinueFailed,
        kEventIdPauseFailed,    kEventIdQueryStatusFailed, kEventIdPropertiesNotLoaded,
        kEventIdPanelNotFound,
    };
    for (DWORD id : one_string) {
        const std::string text = Message(id);
        EXPECT_NE(text.find("<first>"), std::string::npos) << std::hex << id << ": " << text;
        EXPECT_EQ(text.find("<second>"), std::string::npos) << std::hex << id << ": " << text;
    }
    const std::string wait = Message(kEventIdWaitFailed);
    EXPECT_NE(wait.find("<first>"), std::string::npos) << wait;
    EXPECT_NE(wait.find("<second>"), std::string::npos) << wait;
    // Unused codes have none.
    EXPECT_EQ(Message(0xC000000Au), "");
    EXPECT_EQ(Message(0xC0000011u), "");
    EXPECT_EQ(Message(0x00000001u), "");  // severity bits are part of the id
}

}  // namespace
}  // namespace zelk
