#include "registry_data.h"

#include <cstring>

#include "platform/platform_paths.h"

namespace nimbrel::platform::registry {

bool isStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::string toStoredData(DWORD type, const BYTE* data, DWORD size) {
    if (!data || size == 0) return {};
    if (!isStringType(type)) return std::string(reinterpret_cast<const char*>(data), size);
    std::wstring text(size / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data, text.size() * sizeof(wchar_t));
    auto units = toUtf16(text);
    std::string stored;
    stored.reserve(units.size() * 2);
    for (char16_t unit : units) {
        stored += static_cast<char>(unit & 0xFF);
        stored += static_cast<char>(unit >> 8);
    }
    return stored;
}

std::string toCallerData(DWORD type, const std::string& stored) {
    if (!isStringType(type)) return stored;
    std::u16string units((stored.size() + 1) / 2, u'\0');
    for (std::size_t i = 0; i < stored.size(); ++i) {
        auto byte = static_cast<char16_t>(static_cast<unsigned char>(stored[i]));
        units[i / 2] |= static_cast<char16_t>(i % 2 ? byte << 8 : byte);
    }
    auto text = fromUtf16(units);
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

}  // namespace nimbrel::platform::registry
