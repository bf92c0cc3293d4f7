// Folder listing: FindFirstFileW / FindNextFileW / FindClose.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/descriptor_paths.h"
#include "platform/file_filter_hooks.h"
#include "platform/kernel_object.h"
#include "platform/platform_paths.h"
#include "platform/win32_file_support.h"
#include "platform/win32_filetime.h"
#include "platform/win_error.h"
#include "platform/win_file.h"
#include "win32_errno.h"

namespace {

namespace p = nimbrel::platform;

class FindObject : public p::KernelObject {
public:
    std::string folder;
    std::vector<std::string> names;
    std::size_t next = 0;
};

// Windows wildcards: "*" any run, "?" one character, compared without regard to case; "*.*"
// matches every name, also one without a dot.
bool matches(const std::wstring& pattern, const std::wstring& name) {
    if (pattern == L"*" || pattern == L"*.*") return true;
    std::size_t pi = 0, ni = 0, starP = std::wstring::npos, starN = 0;
    while (ni < name.size()) {
        if (pi < pattern.size() && (pattern[pi] == L'?' || std::towlower(pattern[pi]) == std::towlower(name[ni]))) {
            ++pi;
            ++ni;
        } else if (pi < pattern.size() && pattern[pi] == L'*') {
            starP = pi++;
            starN = ni;
        } else if (starP != std::wstring::npos) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < pattern.size() && pattern[pi] == L'*') ++pi;
    return pi == pattern.size();
}

// Fills the record for the next name that still exists; false at the end.
bool fillNext(FindObject& find, WIN32_FIND_DATAW* data) {
    while (find.next < find.names.size()) {
        const std::string& name = find.names[find.next++];
        std::string path = find.folder == "/" ? "/" + name : find.folder + "/" + name;
        p::FileFacts facts;
        if (!p::describeFile(path, -1, facts)) continue;  // gone since the listing
        *data = WIN32_FIND_DATAW{};
        data->dwFileAttributes = facts.attributes;
        data->ftCreationTime = p::toFileTime(facts.creationTime);
        data->ftLastAccessTime = p::toFileTime(facts.lastAccessTime);
        data->ftLastWriteTime = p::toFileTime(facts.lastWriteTime);
        if (!S_ISDIR(facts.st.st_mode)) {
            auto size = static_cast<ULONGLONG>(facts.st.st_size);
            data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
            data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
        }
        data->dwReserved0 = facts.reparseTag;
        std::wstring wide = p::fromUtf8(name);
        wide.resize(std::min<std::size_t>(wide.size(), MAX_PATH - 1));
        std::copy(wide.begin(), wide.end(), data->cFileName);
        return true;
    }
    return false;
}

// The names of `find.folder` that match `pattern`, in the order Windows lists them.
DWORD listMatches(FindObject& find, const std::wstring& pattern) {
    DIR* dir = ::opendir(find.folder.c_str());
    if (!dir) return errno == ENOTDIR || errno == ENOENT ? ERROR_PATH_NOT_FOUND : p::win32ErrorFromErrno(errno);
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (find.folder == "/" && (name == "." || name == "..")) continue;  // a root folder has neither
        if (matches(pattern, p::fromUtf8(name))) find.names.push_back(name);
    }
    ::closedir(dir);
    // "." and ".." come first, as the file system lists them on Windows; the rest in name order.
    std::stable_sort(find.names.begin(), find.names.end(), [](const std::string& a, const std::string& b) {
        auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
        return rank(a) != rank(b) ? rank(a) < rank(b) : a < b;
    });
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findFileData) {
    if (!fileName || !findFileData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string host = p::toHostPath(std::wstring(fileName));
    auto slash = host.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : host.substr(0, slash);
    std::wstring pattern = p::fromUtf8(slash == std::string::npos ? host : host.substr(slash + 1));
    if (pattern.empty()) {
        // "C:\dir\" names no file; Windows answers that nothing was found.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_shared<FindObject>();
    find->folder = folder;
    // A name without wildcards that exists as written is the one entry found, without reading the
    // whole folder (which costs one request per entry under a filter mount); other spellings of it
    // are looked for in the listing, as the comparison there ignores case.
    const std::string exact = slash == std::string::npos ? host : host.substr(slash + 1);
    struct stat st {};
    if (pattern.find_first_of(L"*?") == std::wstring::npos && exact != "." && exact != ".." &&
        p::statPath(p::accessPathFor(folder + "/" + exact), st, false) == 0) {
        find->names.push_back(exact);
    } else if (DWORD error = listMatches(*find, pattern); error != ERROR_SUCCESS) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (!fillNext(*find, findFileData)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return p::registerHandle(std::move(find));
}

extern "C" BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findFileData) {
    auto find = p::handleAs<FindObject>(findFile);
    if (!find || !findFileData) {
        SetLastError(find ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!fillNext(*find, findFileData)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL FindClose(HANDLE findFile) {
    if (!p::handleAs<FindObject>(findFile) || !p::releaseHandle(findFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
