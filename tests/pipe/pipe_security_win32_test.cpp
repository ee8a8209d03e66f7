// The pipe's security descriptor: one access-allowed entry for authenticated users.
#include <windows.h>

#include <gtest/gtest.h>

#include "service/pipe/named_pipe_win32.h"

namespace zelk {
namespace {

TEST(RestrictedDescriptor, AdmitsAuthenticatedUsersOnly) {
    SECURITY_DESCRIPTOR descriptor{};
    PACL acl = BuildRestrictedSD(&descriptor);
    ASSERT_NE(acl, nullptr);
    EXPECT_TRUE(IsValidSecurityDescriptor(&descriptor));

    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(&descriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present && !defaulted && dacl == acl);

    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID authenticated = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, SECURITY_AUTHENTICATED_USER_RID, 0, 0, 0, 0, 0, 0,
                                         0, &authenticated));
    EXPECT_EQ(acl->AclRevision, ACL_REVISION);
    EXPECT_EQ(acl->AclSize, GetLengthSid(authenticated) + 16);
    ASSERT_EQ(acl->AceCount, 1);
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(acl, 0, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allowed->Mask, 0xE0000000u);
    EXPECT_TRUE(EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), authenticated));
    FreeSid(authenticated);
    HeapFree(GetProcessHeap(), 0, acl);
}

TEST(NamedPipe, TheFullNameMustFitItsBuffer) {
    CNamedPipe pipe;
    const std::string longName(300, 'x');
    EXPECT_FALSE(pipe.Create(longName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 4096, 4096,
                             1, nullptr));
    EXPECT_EQ(pipe.Handle(), INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace zelk
