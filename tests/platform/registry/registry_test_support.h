#pragma once
// Small helpers shared by the registry tests.

#include <gtest/gtest.h>

#include <string>

#include "platform/windows.h"

namespace nimbrel::test {

// An HKEY that closes itself.
class ScopedKey {
public:
    ScopedKey() = default;
    ~ScopedKey() { reset(); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    HKEY* put() {
        reset();
        return &key_;
    }
    HKEY get() const { return key_; }
    void reset() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};

inline LONG createKey(HKEY root, const std::wstring& path, ScopedKey& key, REGSAM sam = KEY_ALL_ACCESS,
                      DWORD* disposition = nullptr) {
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, key.put(),
                           disposition);
}

inline bool keyExists(HKEY root, const std::wstring& path, REGSAM view = 0) {
    ScopedKey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

inline LONG setString(HKEY key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline LONG setDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The text of a string value, without its terminating NUL; empty when it cannot be read.
inline std::wstring getString(HKEY key, const wchar_t* name) {
    wchar_t buffer[512] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
        return {};
    }
    std::wstring text(buffer, size / sizeof(wchar_t));
    if (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

}  // namespace nimbrel::test
