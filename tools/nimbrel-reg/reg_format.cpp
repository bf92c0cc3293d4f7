#include "reg_format.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace nimbrel::reg {

namespace {

std::wstring hexNumber(unsigned long long number) {
    wchar_t text[24];
    std::swprintf(text, 24, L"0x%llx", number);
    return text;
}

std::wstring hexBytes(const std::vector<BYTE>& data) {
    std::wstring text;
    wchar_t pair[3];
    for (BYTE byte : data) {
        std::swprintf(pair, 3, L"%02X", byte);
        text += pair;
    }
    return text;
}

std::wstring wideText(const std::vector<BYTE>& data) {
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    return text;
}

void appendWide(std::vector<BYTE>& data, const std::wstring& text) {
    auto* bytes = reinterpret_cast<const BYTE*>(text.data());
    data.insert(data.end(), bytes, bytes + text.size() * sizeof(wchar_t));
}

bool parseNumber(const std::wstring& text, unsigned long long limit, unsigned long long& number) {
    if (text.empty()) return false;
    wchar_t* end = nullptr;
    bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    if (!hex && text[0] == L'-') return false;
    number = std::wcstoull(text.c_str(), &end, hex ? 16 : 10);
    return *end == L'\0' && number <= limit;
}

}  // namespace

std::wstring formatData(DWORD type, const std::vector<BYTE>& data) {
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            auto text = wideText(data);
            return text.substr(0, text.find(L'\0'));
        }
        case REG_MULTI_SZ: {
            auto text = wideText(data);
            while (!text.empty() && text.back() == L'\0') text.pop_back();
            std::wstring shown;
            for (wchar_t c : text) shown += c == L'\0' ? std::wstring(L"\\0") : std::wstring(1, c);
            return shown;
        }
        case REG_DWORD:
            if (data.size() == sizeof(DWORD)) {
                DWORD number = 0;
                std::memcpy(&number, data.data(), sizeof number);
                return hexNumber(number);
            }
            return hexBytes(data);
        case REG_QWORD:
            if (data.size() == sizeof(ULONGLONG)) {
                ULONGLONG number = 0;
                std::memcpy(&number, data.data(), sizeof number);
                return hexNumber(number);
            }
            return hexBytes(data);
        default:
            return hexBytes(data);
    }
}

bool parseData(DWORD type, const std::wstring& text, std::vector<BYTE>& data) {
    data.clear();
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            appendWide(data, text + L'\0');
            return true;
        case REG_MULTI_SZ: {
            std::wstring strings;
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (text.compare(i, 2, L"\\0") == 0) {
                    strings += L'\0';
                    ++i;
                } else {
                    strings += text[i];
                }
            }
            appendWide(data, strings + L'\0' + L'\0');
            return true;
        }
        case REG_DWORD: {
            unsigned long long number = 0;
            if (!parseNumber(text.empty() ? L"0" : text, 0xFFFFFFFFull, number)) return false;
            auto value = static_cast<DWORD>(number);
            auto* bytes = reinterpret_cast<const BYTE*>(&value);
            data.assign(bytes, bytes + sizeof value);
            return true;
        }
        case REG_QWORD: {
            unsigned long long number = 0;
            if (!parseNumber(text.empty() ? L"0" : text, ~0ull, number)) return false;
            auto* bytes = reinterpret_cast<const BYTE*>(&number);
            data.assign(bytes, bytes + sizeof number);
            return true;
        }
        default: {
            if (text.size() % 2) return false;
            for (std::size_t i = 0; i < text.size(); i += 2) {
                unsigned long long byte = 0;
                if (!parseNumber(L"0x" + text.substr(i, 2), 0xFF, byte)) return false;
                data.push_back(static_cast<BYTE>(byte));
            }
            return true;
        }
    }
}

}  // namespace nimbrel::reg
