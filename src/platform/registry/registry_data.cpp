#include "registry_data.h"

#include <cstdlib>
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

std::wstring expandEnvironment(const std::wstring& text) {
    std::wstring expanded;
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto open = text.find(L'%', pos);
        auto close = open == std::wstring::npos ? std::wstring::npos : text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            expanded += text.substr(pos);
            break;
        }
        expanded += text.substr(pos, open - pos);
        auto name = text.substr(open + 1, close - open - 1);
        const char* value = name.empty() ? nullptr : std::getenv(toUtf8(name).c_str());
        if (value) {
            expanded += fromUtf8(value);
            pos = close + 1;
        } else {
            // The closing "%" may open the next reference.
            expanded += text.substr(open, close - open);
            pos = close;
        }
    }
    return expanded;
}

}  // namespace nimbrel::platform::registry
