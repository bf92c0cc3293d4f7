#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/kernel_object.h"
#include "platform/win_error.h"
#include "platform/win_process.h"
#include "platform/win_token.h"

namespace {

constexpr BYTE kSidRevision = 1;
constexpr BYTE kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
constexpr DWORD kNonUniqueAuthority = 21;  // SECURITY_NT_NON_UNIQUE: local accounts

// Three stable 32-bit numbers for this machine, as Windows keeps them for its local accounts.
std::vector<DWORD> machineNumbers() {
    std::string id;
    std::ifstream("/etc/machine-id") >> id;
    if (id.empty()) {
        char host[256] = {};
        ::gethostname(host, sizeof(host) - 1);
        id = host;
    }
    std::vector<DWORD> numbers;
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (int round = 0; round < 3; ++round) {
        for (unsigned char c : id) hash = (hash ^ c) * 1099511628211ull;
        hash = (hash ^ static_cast<unsigned>(round)) * 1099511628211ull;
        numbers.push_back(static_cast<DWORD>(hash >> 32));
    }
    return numbers;
}

// The binary SID of a user: revision, count, authority, sub-authorities.
std::vector<BYTE> userSid(uid_t uid) {
    std::vector<DWORD> subAuthorities{kNonUniqueAuthority};
    for (DWORD n : machineNumbers()) subAuthorities.push_back(n);
    subAuthorities.push_back(static_cast<DWORD>(uid));
    std::vector<BYTE> sid(8 + 4 * subAuthorities.size());
    sid[0] = kSidRevision;
    sid[1] = static_cast<BYTE>(subAuthorities.size());
    std::memcpy(&sid[2], kNtAuthority, sizeof(kNtAuthority));
    std::memcpy(&sid[8], subAuthorities.data(), 4 * subAuthorities.size());
    return sid;
}

DWORD win32ErrorOf(HRESULT hr) {
    return HRESULT_FACILITY(hr) == FACILITY_WIN32 ? static_cast<DWORD>(HRESULT_CODE(hr)) : static_cast<DWORD>(hr);
}

bool isPseudoToken(HANDLE token) {
    auto value = reinterpret_cast<LONG_PTR>(token);
    return value == -4 || value == -5 || value == -6;  // process, thread and effective-thread tokens
}

// A token of another process: the user that process ran as when the token was opened.
class TokenObject : public nimbrel::platform::KernelObject {
public:
    uid_t uid = 0;
};

std::size_t sidLength(const BYTE* sid) { return 8 + 4 * static_cast<std::size_t>(sid[1]); }

}  // namespace

extern "C" BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                                    PDWORD returnLength) {
    using nimbrel::platform::faults::check;
    if (auto fault = check("GetTokenInformation")) {
        SetLastError(win32ErrorOf(*fault));
        return FALSE;
    }
    if (!returnLength) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    uid_t uid = ::getuid();
    if (!isPseudoToken(token)) {
        auto opened = nimbrel::platform::handleAs<TokenObject>(token);
        if (!opened) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        uid = opened->uid;
    }
    if (infoClass != TokenUser) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto sid = userSid(uid);
    DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    *returnLength = needed;
    if (!info || length < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* user = static_cast<TOKEN_USER*>(info);
    auto* sidBytes = static_cast<BYTE*>(info) + sizeof(TOKEN_USER);
    std::memcpy(sidBytes, sid.data(), sid.size());
    user->User.Sid = sidBytes;
    user->User.Attributes = 0;
    return TRUE;
}

extern "C" BOOL OpenProcessToken(HANDLE process, DWORD, PHANDLE token) {
    if (!token) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD pid = GetProcessId(process);
    if (pid == 0) return FALSE;
    // The owner of a process's /proc folder is the user it runs as.
    struct stat status {};
    if (::stat(("/proc/" + std::to_string(pid)).c_str(), &status) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    auto object = std::make_shared<TokenObject>();
    object->uid = status.st_uid;
    *token = nimbrel::platform::registerHandle(std::move(object));
    return TRUE;
}

extern "C" BOOL EqualSid(PSID sid1, PSID sid2) {
    if (!sid1 || !sid2) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    const auto* a = static_cast<const BYTE*>(sid1);
    const auto* b = static_cast<const BYTE*>(sid2);
    SetLastError(ERROR_SUCCESS);
    return sidLength(a) == sidLength(b) && std::memcmp(a, b, sidLength(a)) == 0;
}

extern "C" BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* stringSid) {
    if (!sid || !stringSid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* bytes = static_cast<const BYTE*>(sid);
    if (bytes[0] != kSidRevision || bytes[1] > 15) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    std::uint64_t authority = 0;
    for (int i = 2; i < 8; ++i) authority = (authority << 8) | bytes[i];
    std::wstring text = L"S-1-" + std::to_wstring(authority);
    for (int i = 0; i < bytes[1]; ++i) {
        DWORD sub = 0;
        std::memcpy(&sub, bytes + 8 + 4 * i, 4);
        text += L"-" + std::to_wstring(sub);
    }
    // LocalFree releases memory with free().
    auto* out = static_cast<LPWSTR>(std::malloc((text.size() + 1) * sizeof(wchar_t)));
    if (!out) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    *stringSid = out;
    return TRUE;
}
