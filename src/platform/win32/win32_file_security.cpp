// GetFileSecurityW and SetFileSecurityW: a file's owner, group, mode and POSIX ACLs travel as one
// self-relative descriptor, so that a copy of a file can be given the security of its original.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform_paths.h"
#include "platform/win_error.h"
#include "platform/win_security.h"
#include "win32_errno.h"

namespace {

namespace p = nimbrel::platform;

constexpr std::uint32_t kMagic = 0x4453424eu;  // "NBSD"
constexpr const char* kAccessAcl = "system.posix_acl_access";
constexpr const char* kDefaultAcl = "system.posix_acl_default";
constexpr DWORD kKnownParts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// Starts like SECURITY_DESCRIPTOR (revision, control); the access and default ACL bytes follow.
struct StoredDescriptor {
    BYTE revision;
    BYTE sbz1;
    SECURITY_DESCRIPTOR_CONTROL control;
    std::uint32_t magic;
    std::uint32_t parts;
    std::uint32_t owner;
    std::uint32_t group;
    std::uint32_t mode;
    std::uint32_t accessAclLength;
    std::uint32_t defaultAclLength;
};

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL failForPath(int error, const std::string& path) {
    p::setLastErrorForPath(error, path);
    return FALSE;
}

// An absent ACL (or a file system without ACLs) reads as none.
bool readAcl(const std::string& path, const char* name, std::vector<char>& bytes) {
    bytes.clear();
    ssize_t size = ::lgetxattr(path.c_str(), name, nullptr, 0);
    if (size < 0) return errno == ENODATA || errno == ENOTSUP;
    bytes.resize(static_cast<std::size_t>(size));
    size = ::lgetxattr(path.c_str(), name, bytes.data(), bytes.size());
    if (size < 0) return false;
    bytes.resize(static_cast<std::size_t>(size));
    return true;
}

bool writeAcl(const std::string& path, const char* name, const char* bytes, std::uint32_t length) {
    if (length > 0) return ::lsetxattr(path.c_str(), name, bytes, length, 0) == 0;
    return ::lremovexattr(path.c_str(), name) == 0 || errno == ENODATA || errno == ENOTSUP;
}

}  // namespace

extern "C" BOOL GetFileSecurityW(LPCWSTR fileName, SECURITY_INFORMATION requestedInformation,
                                 PSECURITY_DESCRIPTOR securityDescriptor, DWORD length, LPDWORD lengthNeeded) {
    if (!fileName || !lengthNeeded) return fail(ERROR_INVALID_PARAMETER);
    if (requestedInformation & SACL_SECURITY_INFORMATION) return fail(ERROR_PRIVILEGE_NOT_HELD);
    std::string path = p::toHostPath(std::wstring(fileName));
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return failForPath(errno, path);

    std::vector<char> accessAcl;
    std::vector<char> defaultAcl;
    bool withDacl = requestedInformation & DACL_SECURITY_INFORMATION;
    if (withDacl &&
        (!readAcl(path, kAccessAcl, accessAcl) || (S_ISDIR(st.st_mode) && !readAcl(path, kDefaultAcl, defaultAcl)))) {
        return failForPath(errno, path);
    }
    StoredDescriptor header{};
    header.revision = SECURITY_DESCRIPTOR_REVISION;
    header.control = SE_SELF_RELATIVE | (withDacl ? SE_DACL_PRESENT : 0);
    header.magic = kMagic;
    header.parts = requestedInformation & kKnownParts;
    header.owner = st.st_uid;
    header.group = st.st_gid;
    header.mode = st.st_mode & 07777;
    header.accessAclLength = static_cast<std::uint32_t>(accessAcl.size());
    header.defaultAclLength = static_cast<std::uint32_t>(defaultAcl.size());

    auto needed = static_cast<DWORD>(sizeof header + accessAcl.size() + defaultAcl.size());
    *lengthNeeded = needed;
    if (!securityDescriptor || length < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    auto* out = static_cast<char*>(securityDescriptor);
    std::memcpy(out, &header, sizeof header);
    if (!accessAcl.empty()) std::memcpy(out + sizeof header, accessAcl.data(), accessAcl.size());
    if (!defaultAcl.empty()) std::memcpy(out + sizeof header + accessAcl.size(), defaultAcl.data(), defaultAcl.size());
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

extern "C" BOOL SetFileSecurityW(LPCWSTR fileName, SECURITY_INFORMATION securityInformation,
                                 PSECURITY_DESCRIPTOR securityDescriptor) {
    if (!fileName || !securityDescriptor) return fail(ERROR_INVALID_PARAMETER);
    if (securityInformation & SACL_SECURITY_INFORMATION) return fail(ERROR_PRIVILEGE_NOT_HELD);
    StoredDescriptor header{};
    std::memcpy(&header, securityDescriptor, sizeof header);
    if (header.revision != SECURITY_DESCRIPTOR_REVISION) return fail(ERROR_UNKNOWN_REVISION);
    // Asking for a part the descriptor does not hold is a malformed request, as on Windows.
    if (header.magic != kMagic || (securityInformation & kKnownParts & ~header.parts)) {
        return fail(ERROR_INVALID_SECURITY_DESCR);
    }
    std::string path = p::toHostPath(std::wstring(fileName));
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return failForPath(errno, path);

    uid_t owner = (securityInformation & OWNER_SECURITY_INFORMATION) ? header.owner : static_cast<uid_t>(-1);
    gid_t group = (securityInformation & GROUP_SECURITY_INFORMATION) ? header.group : static_cast<gid_t>(-1);
    if ((owner != static_cast<uid_t>(-1) && owner != st.st_uid) ||
        (group != static_cast<gid_t>(-1) && group != st.st_gid)) {
        if (::chown(path.c_str(), owner, group) != 0) return failForPath(errno, path);
    }
    if (securityInformation & DACL_SECURITY_INFORMATION) {
        // The mode first: an access ACL written afterwards sets the group bits from its mask.
        const char* acls = static_cast<const char*>(securityDescriptor) + sizeof header;
        if (::chmod(path.c_str(), header.mode) != 0 || !writeAcl(path, kAccessAcl, acls, header.accessAclLength) ||
            (S_ISDIR(st.st_mode) &&
             !writeAcl(path, kDefaultAcl, acls + header.accessAclLength, header.defaultAclLength))) {
            return failForPath(errno, path);
        }
    } else if (owner != static_cast<uid_t>(-1) || group != static_cast<gid_t>(-1)) {
        // chown drops set-user and set-group bits that only the DACL part may change.
        ::chmod(path.c_str(), st.st_mode & 07777);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
