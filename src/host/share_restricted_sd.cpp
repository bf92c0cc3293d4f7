#include "host/share_restricted_sd.h"

#include <cstdio>

namespace {

void reportFailure(const char* format) { std::printf(format, static_cast<int>(GetLastError())); }

}  // namespace

CShareRestrictedSD::CShareRestrictedSD() {
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;

    if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION)) {
        reportFailure("InitializeSecurityDescriptor() failed with error %d\n");
        return;
    }

    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
        reportFailure("AllocateAndInitializeSid() failed with error %d\n");
        return;
    }

    // The list header and one access-allowed entry (whose last DWORD is the start of the SID).
    DWORD aclLength = GetLengthSid(everyone) + 16;
    bool built = false;
    acl_ = static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, aclLength));
    if (!acl_) {
        reportFailure("HeapAlloc() failed with error %d\n");
    } else if (!InitializeAcl(acl_, aclLength, ACL_REVISION)) {
        reportFailure("InitializeAcl() failed with error %d\n");
    } else if (!AddAccessAllowedAce(acl_, ACL_REVISION, GENERIC_ALL, everyone)) {
        reportFailure("AddAccessAllowedAce() failed with error %d\n");
    } else if (!SetSecurityDescriptorDacl(&descriptor_, TRUE, acl_, FALSE)) {
        reportFailure("SetSecurityDescriptorDacl() failed with error %d\n");
    } else {
        built = true;
    }

    FreeSid(everyone);
    if (!built && acl_) {
        HeapFree(GetProcessHeap(), 0, acl_);
        acl_ = nullptr;
    }
}

CShareRestrictedSD::~CShareRestrictedSD() {
    if (acl_) HeapFree(GetProcessHeap(), 0, acl_);
}

SECURITY_ATTRIBUTES* CShareRestrictedSD::securityAttributes() { return acl_ ? &attributes_ : nullptr; }
