// Modules: the host executable and shared libraries loaded under their Windows names.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/platform_paths.h"
#include "platform/win_error.h"
#include "platform/win_module.h"

namespace {

namespace p = nimbrel::platform;

std::string executablePath() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

std::string executableFolder() {
    std::string exe = executablePath();
    auto slash = exe.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
}

std::string modulePath(HMODULE module) {
    if (!module) return executablePath();
    link_map* map = nullptr;
    if (::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map) return {};
    // The main program's entry has an empty name.
    return map->l_name && *map->l_name ? std::string(map->l_name) : executablePath();
}

bool endsWithDll(const std::string& path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".dll";
}

// "<dir>/name.dll" is the shared library "<dir>/libname.so"; a bare name is looked for next to
// the host executable first, as Windows searches the application folder first.
std::string libraryFileFor(const std::string& hostPath) {
    if (!endsWithDll(hostPath)) return hostPath;
    auto slash = hostPath.find_last_of('/');
    std::string folder = slash == std::string::npos ? executableFolder() : hostPath.substr(0, slash);
    std::string file = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
    return folder + "/lib" + file.substr(0, file.size() - 4) + ".so";
}

DWORD copyTruncated(const std::wstring& text, wchar_t* buffer, DWORD size) {
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    auto length = static_cast<DWORD>(text.size());
    if (length < size) {
        std::copy(text.begin(), text.end(), buffer);
        buffer[length] = L'\0';
        SetLastError(ERROR_SUCCESS);
        return length;
    }
    // Too small: as much as fits, NUL-terminated, and the buffer size as the answer.
    std::copy(text.begin(), text.begin() + (size - 1), buffer);
    buffer[size - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

}  // namespace

extern "C" DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    std::string path = modulePath(module);
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return copyTruncated(p::toWindowsPath(path), fileName, size);
}

extern "C" HMODULE LoadLibraryW(LPCWSTR fileName) {
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string host = p::toHostPath(std::wstring(fileName));
    std::string file = libraryFileFor(host);
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    struct stat st {};
    if (!handle && host.find('/') == std::string::npos && ::stat(file.c_str(), &st) != 0) {
        // After the application folder Windows goes on along PATH; the library path plays its part.
        std::string bare = file.substr(file.find_last_of('/') + 1);
        const char* path = std::getenv("LD_LIBRARY_PATH");
        std::string folders = path ? path : "";
        for (std::size_t start = 0; !handle && start <= folders.size();) {
            std::size_t end = folders.find(':', start);
            if (end == std::string::npos) end = folders.size();
            std::string candidate = folders.substr(start, end - start) + "/" + bare;
            if (end > start && ::stat(candidate.c_str(), &st) == 0) {
                file = candidate;
                handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
            }
            start = end + 1;
        }
    }
    if (!handle) {
        SetLastError(::stat(file.c_str(), &st) == 0 ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return static_cast<HMODULE>(handle);
}

extern "C" FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    void* symbol = procName ? ::dlsym(module ? static_cast<void*>(module) : RTLD_DEFAULT, procName) : nullptr;
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

extern "C" BOOL FreeLibrary(HMODULE module) {
    if (!module || ::dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
