#pragma once
// Security descriptors, SIDs and access lists with the Windows layouts, and the process heap.

#include "platform/win_types.h"

using SECURITY_DESCRIPTOR_CONTROL = WORD;
using PSID = void*;
using PSECURITY_DESCRIPTOR = void*;

struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};
using PSID_IDENTIFIER_AUTHORITY = SID_IDENTIFIER_AUTHORITY*;

struct SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[1];  // SubAuthorityCount entries
};

struct ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
};
using PACL = ACL*;

struct ACE_HEADER {
    BYTE AceType;
    BYTE AceFlags;
    WORD AceSize;
};

struct ACCESS_ALLOWED_ACE {
    ACE_HEADER Header;
    ACCESS_MASK Mask;
    DWORD SidStart;  // the first DWORD of the SID, which continues past the structure
};

// The absolute form: the parts are pointers (SECURITY_DESCRIPTOR_MIN_LENGTH bytes).
struct SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
};

#define SECURITY_DESCRIPTOR_REVISION 1
#define SECURITY_DESCRIPTOR_MIN_LENGTH (sizeof(SECURITY_DESCRIPTOR))
#define SID_REVISION 1
#define SID_MAX_SUB_AUTHORITIES 15
#define ACL_REVISION 2
#define ACL_REVISION_DS 4
#define ACCESS_ALLOWED_ACE_TYPE 0x0
#define SE_OWNER_DEFAULTED 0x0001
#define SE_GROUP_DEFAULTED 0x0002
#define SE_DACL_PRESENT 0x0004
#define SE_DACL_DEFAULTED 0x0008
#define SE_SACL_PRESENT 0x0010
#define SE_SELF_RELATIVE 0x8000

#define SECURITY_NULL_SID_AUTHORITY \
    { 0, 0, 0, 0, 0, 0 }
#define SECURITY_WORLD_SID_AUTHORITY \
    { 0, 0, 0, 0, 0, 1 }
#define SECURITY_NT_AUTHORITY \
    { 0, 0, 0, 0, 0, 5 }
#define SECURITY_WORLD_RID 0x00000000u

#define HEAP_NO_SERIALIZE 0x00000001u
#define HEAP_GENERATE_EXCEPTIONS 0x00000004u
#define HEAP_ZERO_MEMORY 0x00000008u

// Parts of a descriptor that GetFileSecurityW and SetFileSecurityW move.
#define OWNER_SECURITY_INFORMATION 0x00000001u
#define GROUP_SECURITY_INFORMATION 0x00000002u
#define DACL_SECURITY_INFORMATION 0x00000004u
#define SACL_SECURITY_INFORMATION 0x00000008u

#ifndef ERROR_PRIVILEGE_NOT_HELD
#define ERROR_PRIVILEGE_NOT_HELD 1314L
#endif
#ifndef ERROR_INVALID_SECURITY_DESCR
#define ERROR_INVALID_SECURITY_DESCR 1338L
#endif
#ifndef ERROR_UNKNOWN_REVISION
#define ERROR_UNKNOWN_REVISION 1305L
#endif
#ifndef ERROR_REVISION_MISMATCH
#define ERROR_REVISION_MISMATCH 1306L
#endif
#ifndef ERROR_ALLOTTED_SPACE_EXCEEDED
#define ERROR_ALLOTTED_SPACE_EXCEEDED 1344L
#endif

extern "C" {
BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR securityDescriptor, DWORD revision);
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR securityDescriptor, BOOL daclPresent, PACL dacl,
                               BOOL daclDefaulted);
BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY identifierAuthority, BYTE subAuthorityCount,
                              DWORD subAuthority0, DWORD subAuthority1, DWORD subAuthority2, DWORD subAuthority3,
                              DWORD subAuthority4, DWORD subAuthority5, DWORD subAuthority6, DWORD subAuthority7,
                              PSID* sid);
PVOID FreeSid(PSID sid);
DWORD GetLengthSid(PSID sid);
BOOL IsValidSid(PSID sid);
BOOL InitializeAcl(PACL acl, DWORD aclLength, DWORD aclRevision);
BOOL AddAccessAllowedAce(PACL acl, DWORD aceRevision, DWORD accessMask, PSID sid);

// A file's descriptor is self-relative and opaque beyond its header: the owner, the group, and as
// its DACL the mode bits with the POSIX access (and, for a folder, default) ACL. Reading the SACL
// needs a privilege no caller holds (ERROR_PRIVILEGE_NOT_HELD). A buffer too small fails with
// ERROR_INSUFFICIENT_BUFFER and `lengthNeeded` set.
BOOL GetFileSecurityW(LPCWSTR fileName, SECURITY_INFORMATION requestedInformation,
                      PSECURITY_DESCRIPTOR securityDescriptor, DWORD length, LPDWORD lengthNeeded);
// Applies the parts named by `securityInformation` from a descriptor GetFileSecurityW gave.
BOOL SetFileSecurityW(LPCWSTR fileName, SECURITY_INFORMATION securityInformation,
                      PSECURITY_DESCRIPTOR securityDescriptor);

HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory);
}
