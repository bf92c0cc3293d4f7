// Key paths and value names through the registry stand-in's public functions, as any program on
// the machine could pass them: create, set, read back, open again and delete, under
// HKEY_CURRENT_USER (or HKEY_LOCAL_MACHINE with either view) of this run's own platform home.
// Input: a flags byte, then the key path, the value name and the value's text, one per line.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_env.h"
#include "platform/platform_paths.h"
#include "platform/windows.h"

namespace {

enum Flags : std::uint8_t { kLocalMachine = 1, kView32 = 2, kExpandable = 4 };

std::vector<std::wstring> lines(const std::string& text, std::size_t count) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    while (parts.size() + 1 < count) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) break;
        parts.push_back(nimbrel::platform::fromUtf8(text.substr(start, end - start)));
        start = end + 1;
    }
    parts.push_back(nimbrel::platform::fromUtf8(text.substr(std::min(start, text.size()))));
    parts.resize(count);
    return parts;
}

bool opens(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// A value written is read back as written, with its type.
void checkValue(HKEY key, const std::wstring& name, DWORD type, const std::vector<BYTE>& written) {
    DWORD readType = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &readType, nullptr, &size) != ERROR_SUCCESS) std::abort();
    std::vector<BYTE> read(size);
    if (RegQueryValueExW(key, name.c_str(), nullptr, &readType, read.data(), &size) != ERROR_SUCCESS) std::abort();
    read.resize(size);
    if (readType != type || read != written) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    nimbrel::fuzz::useFreshPlatformFolders();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t flags = data[0];
    const std::vector<std::wstring> parts = lines(nimbrel::fuzz::text(data + 1, size - 1), 3);
    // The functions take C strings: what follows a NUL is not part of the name.
    const std::wstring path = parts[0].c_str();
    const std::wstring name = parts[1].c_str();
    const HKEY root = flags & kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const REGSAM view = flags & kView32 ? KEY_WOW64_32KEY : 0;
    const DWORD type = flags & kExpandable ? REG_EXPAND_SZ : REG_SZ;

    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        // What cannot be created does not exist either.
        if (opens(root, path, view)) std::abort();
        return 0;
    }
    const std::wstring text = parts[2].c_str();
    std::vector<BYTE> bytes((text.size() + 1) * sizeof(wchar_t));
    std::memcpy(bytes.data(), text.c_str(), bytes.size());
    if (RegSetValueExW(key, name.c_str(), 0, type, bytes.data(), static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS) {
        checkValue(key, name, type, bytes);
    }
    if (!opens(root, path, view)) std::abort();
    if (!path.empty()) {
        // As "reg delete" does it: the key's contents, then the key itself, which is then gone.
        if (RegDeleteTreeW(key, nullptr) != ERROR_SUCCESS) std::abort();
        if (RegDeleteKeyExW(root, path.c_str(), view, 0) != ERROR_SUCCESS) std::abort();
        if (opens(root, path, view)) std::abort();
    }
    RegCloseKey(key);
    RegDeleteTreeW(root, nullptr);
    return 0;
}
