#pragma once
// Access tokens: the user SID of the caller or of another process. A Linux account has no Windows SID, so the stand-in
// gives each account a stable one in the local-account form "S-1-5-21-<a>-<b>-<c>-<uid>": the three
// machine numbers come from /etc/machine-id (the same on every run of one machine) and the relative
// id is the Unix user id.

#include "platform/win_types.h"

using PSID = void*;

enum TOKEN_INFORMATION_CLASS { TokenUser = 1 };

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};

struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};

#define TOKEN_QUERY 0x0008u

// The pseudo-handle of the calling thread's effective token, as Windows' inline function answers it.
inline HANDLE GetCurrentThreadEffectiveToken() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-6)); }

extern "C" {
// The token of a process (PROCESS_QUERY_LIMITED_INFORMATION is enough): the user it runs as. Closed
// with CloseHandle.
BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token);
// Whether two SIDs are equal, revision, authority and every sub-authority.
BOOL EqualSid(PSID sid1, PSID sid2);
// TokenUser only, of a pseudo-handle or of a token from OpenProcessToken; a buffer too small (or none) fails with
// ERROR_INSUFFICIENT_BUFFER and the size needed in *returnLength. The SID lives inside the caller's buffer.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                         PDWORD returnLength);
// The "S-1-..." text of a SID, allocated for LocalFree.
BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* stringSid);
}
