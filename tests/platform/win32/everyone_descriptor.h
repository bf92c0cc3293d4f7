#pragma once
// The security descriptor the shared-memory code builds: one access-allowed entry granting
// Everyone GENERIC_ALL, in a list of exactly the SID's length plus 16 bytes.

#include "platform/windows.h"

namespace nimbrel::test::win32 {

class EveryoneDescriptor {
public:
    EveryoneDescriptor() {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        ok = InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
             AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
        if (!ok) return;
        aclLength = GetLengthSid(everyone) + 16;
        acl = static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, aclLength));
        ok = acl && InitializeAcl(acl, aclLength, ACL_REVISION) &&
             AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, everyone) &&
             SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
        securityAttributes = {sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
    }
    ~EveryoneDescriptor() {
        if (everyone) FreeSid(everyone);
        if (acl) HeapFree(GetProcessHeap(), 0, acl);
    }
    EveryoneDescriptor(const EveryoneDescriptor&) = delete;
    EveryoneDescriptor& operator=(const EveryoneDescriptor&) = delete;

    SECURITY_ATTRIBUTES* attributes() { return &securityAttributes; }

    bool ok = false;
    SECURITY_DESCRIPTOR descriptor{};
    PSID everyone = nullptr;
    PACL acl = nullptr;
    DWORD aclLength = 0;
    SECURITY_ATTRIBUTES securityAttributes{};
};

}  // namespace nimbrel::test::win32
