// The identifiers that widl computes from the parameterized types' signatures (and the ones our
// IDL states) against the values the system's metadata publishes: a wrong name, namespace or
// default interface in the IDL changes a signature and so an identifier, and the system would
// answer E_NOINTERFACE.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "windows.media.control.h"

namespace {

std::string Text(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

TEST(WinrtIids, ParameterizedTypesMatchTheSystemValues) {
    EXPECT_EQ(
        Text(
            IID___FIAsyncOperation_1_Windows__CMedia__CControl__CGlobalSystemMediaTransportControlsSessionManager),
        "3eec115e-7346-5c27-8c5f-da78514a277b");
    EXPECT_EQ(
        Text(
            IID___FIAsyncOperationCompletedHandler_1_Windows__CMedia__CControl__CGlobalSystemMediaTransportControlsSessionManager),
        "10f0074e-923d-5510-8f4a-dde37754ca0e");
    EXPECT_EQ(
        Text(
            IID___FITypedEventHandler_2_Windows__CMedia__CControl__CGlobalSystemMediaTransportControlsSessionManager_Windows__CMedia__CControl__CCurrentSessionChangedEventArgs),
        "228bd0ed-1fa2-5e9b-a6ec-42566173103b");
}

TEST(WinrtIids, StatedInterfacesReachTheCppDeclarations) {
    using namespace ABI::Windows::Media::Control;
    EXPECT_EQ(Text(__uuidof(IGlobalSystemMediaTransportControlsSessionManagerStatics)),
              "2050c4ee-11a0-57de-aed7-c97c70338245");
    EXPECT_EQ(Text(__uuidof(IGlobalSystemMediaTransportControlsSession)),
              "7148c835-9b14-5ae2-ab85-dc9b1c14e1a8");
}

}  // namespace
