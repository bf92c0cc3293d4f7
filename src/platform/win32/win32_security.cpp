#include "win32_security.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/win_error.h"
#include "platform/win_security.h"

namespace {

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

DWORD sidLength(const SID* sid) { return 8 + 4 * static_cast<DWORD>(sid->SubAuthorityCount); }

bool validAcl(const ACL* acl) {
    return acl && (acl->AclRevision >= ACL_REVISION && acl->AclRevision <= ACL_REVISION_DS) &&
           acl->AclSize >= sizeof(ACL);
}

// The first free byte after the entries, or null when an entry runs past the list.
BYTE* endOfEntries(ACL* acl) {
    auto* base = reinterpret_cast<BYTE*>(acl);
    std::size_t offset = sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        if (offset + sizeof(ACE_HEADER) > acl->AclSize) return nullptr;
        const auto* header = reinterpret_cast<const ACE_HEADER*>(base + offset);
        if (header->AceSize < sizeof(ACE_HEADER) || offset + header->AceSize > acl->AclSize) return nullptr;
        offset += header->AceSize;
    }
    return base + offset;
}

bool isEveryone(const SID* sid) {
    static const BYTE world[6] = {0, 0, 0, 0, 0, 1};
    return sid->Revision == SID_REVISION && sid->SubAuthorityCount == 1 &&
           std::memcmp(sid->IdentifierAuthority.Value, world, 6) == 0 && sid->SubAuthority[0] == SECURITY_WORLD_RID;
}

// Stands for the process heap; HeapAlloc takes the blocks from the C heap.
int processHeapTag;

}  // namespace

namespace nimbrel::platform {

bool grantsEveryoneFullAccess(const SECURITY_ATTRIBUTES* attributes) {
    if (!attributes || !attributes->lpSecurityDescriptor) return false;
    const auto* descriptor = static_cast<const SECURITY_DESCRIPTOR*>(attributes->lpSecurityDescriptor);
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION || !(descriptor->Control & SE_DACL_PRESENT)) return false;
    if (!descriptor->Dacl) return true;
    if (!validAcl(descriptor->Dacl)) return false;
    const auto* base = reinterpret_cast<const BYTE*>(descriptor->Dacl);
    std::size_t offset = sizeof(ACL);
    for (WORD i = 0; i < descriptor->Dacl->AceCount; ++i) {
        if (offset + sizeof(ACCESS_ALLOWED_ACE) > descriptor->Dacl->AclSize) return false;
        const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(base + offset);
        const auto* sid = reinterpret_cast<const SID*>(&ace->SidStart);
        if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && (ace->Mask & GENERIC_ALL) && isEveryone(sid)) {
            return true;
        }
        offset += ace->Header.AceSize;
    }
    return false;
}

}  // namespace nimbrel::platform

extern "C" BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR securityDescriptor, DWORD revision) {
    if (revision != SECURITY_DESCRIPTOR_REVISION) return fail(ERROR_UNKNOWN_REVISION);
    if (!securityDescriptor) return fail(ERROR_INVALID_PARAMETER);
    auto* descriptor = static_cast<SECURITY_DESCRIPTOR*>(securityDescriptor);
    *descriptor = SECURITY_DESCRIPTOR{};
    descriptor->Revision = SECURITY_DESCRIPTOR_REVISION;
    return TRUE;
}

extern "C" BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR securityDescriptor, BOOL daclPresent, PACL dacl,
                                          BOOL daclDefaulted) {
    auto* descriptor = static_cast<SECURITY_DESCRIPTOR*>(securityDescriptor);
    if (!descriptor) return fail(ERROR_INVALID_PARAMETER);
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) return fail(ERROR_UNKNOWN_REVISION);
    if (descriptor->Control & SE_SELF_RELATIVE) return fail(ERROR_INVALID_SECURITY_DESCR);
    if (!daclPresent) {
        descriptor->Control &= static_cast<WORD>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
        descriptor->Dacl = nullptr;
        return TRUE;
    }
    descriptor->Control |= SE_DACL_PRESENT;
    descriptor->Dacl = dacl;
    if (daclDefaulted) {
        descriptor->Control |= SE_DACL_DEFAULTED;
    } else {
        descriptor->Control &= static_cast<WORD>(~SE_DACL_DEFAULTED);
    }
    return TRUE;
}

extern "C" BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY identifierAuthority, BYTE subAuthorityCount,
                                         DWORD subAuthority0, DWORD subAuthority1, DWORD subAuthority2,
                                         DWORD subAuthority3, DWORD subAuthority4, DWORD subAuthority5,
                                         DWORD subAuthority6, DWORD subAuthority7, PSID* sid) {
    if (!identifierAuthority || !sid || subAuthorityCount > 8) return fail(ERROR_INVALID_PARAMETER);
    const DWORD values[8] = {subAuthority0, subAuthority1, subAuthority2, subAuthority3,
                             subAuthority4, subAuthority5, subAuthority6, subAuthority7};
    DWORD length = 8 + 4 * static_cast<DWORD>(subAuthorityCount);
    auto* made = static_cast<SID*>(std::calloc(1, std::max<DWORD>(length, sizeof(SID))));
    if (!made) return fail(ERROR_NOT_ENOUGH_MEMORY);
    made->Revision = SID_REVISION;
    made->SubAuthorityCount = subAuthorityCount;
    made->IdentifierAuthority = *identifierAuthority;
    std::memcpy(made->SubAuthority, values, 4 * static_cast<std::size_t>(subAuthorityCount));
    *sid = made;
    return TRUE;
}

extern "C" PVOID FreeSid(PSID sid) {
    std::free(sid);
    return nullptr;
}

extern "C" DWORD GetLengthSid(PSID sid) { return sid ? sidLength(static_cast<const SID*>(sid)) : 0; }

extern "C" BOOL IsValidSid(PSID sid) {
    const auto* s = static_cast<const SID*>(sid);
    return s && s->Revision == SID_REVISION && s->SubAuthorityCount <= SID_MAX_SUB_AUTHORITIES ? TRUE : FALSE;
}

extern "C" BOOL InitializeAcl(PACL acl, DWORD aclLength, DWORD aclRevision) {
    if (!acl) return fail(ERROR_INVALID_PARAMETER);
    if (aclLength < sizeof(ACL)) return fail(ERROR_INSUFFICIENT_BUFFER);
    if (aclRevision < ACL_REVISION || aclRevision > ACL_REVISION_DS || aclLength > 0xFFFF) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::memset(acl, 0, sizeof(ACL));
    acl->AclRevision = static_cast<BYTE>(aclRevision);
    acl->AclSize = static_cast<WORD>(aclLength & ~3u);  // the list keeps DWORD alignment
    return TRUE;
}

extern "C" BOOL AddAccessAllowedAce(PACL acl, DWORD aceRevision, DWORD accessMask, PSID sid) {
    if (!validAcl(acl)) return fail(ERROR_INVALID_ACL);
    if (aceRevision < ACL_REVISION || aceRevision > ACL_REVISION_DS) return fail(ERROR_REVISION_MISMATCH);
    if (!IsValidSid(sid)) return fail(ERROR_INVALID_SID);
    BYTE* end = endOfEntries(acl);
    if (!end) return fail(ERROR_INVALID_ACL);
    DWORD length = sidLength(static_cast<const SID*>(sid));
    DWORD aceSize = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + length;
    auto used = static_cast<std::size_t>(end - reinterpret_cast<BYTE*>(acl));
    if (used + aceSize > acl->AclSize) return fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(end);
    ace->Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
    ace->Header.AceFlags = 0;
    ace->Header.AceSize = static_cast<WORD>(aceSize);
    ace->Mask = accessMask;
    std::memcpy(&ace->SidStart, sid, length);
    acl->AceCount++;
    if (aceRevision > acl->AclRevision) acl->AclRevision = static_cast<BYTE>(aceRevision);
    return TRUE;
}

extern "C" HANDLE GetProcessHeap() { return &processHeapTag; }

extern "C" LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (heap != &processHeapTag) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* block = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
    if (!block) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

extern "C" BOOL HeapFree(HANDLE heap, DWORD, LPVOID memory) {
    if (heap != &processHeapTag) return fail(ERROR_INVALID_HANDLE);
    std::free(memory);
    return TRUE;
}
