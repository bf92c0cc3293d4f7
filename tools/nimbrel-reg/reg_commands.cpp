#include "reg_commands.h"

#include <iostream>
#include <string>
#include <vector>

#include "platform/platform_paths.h"
#include "platform/windows.h"
#include "reg_format.h"

namespace nimbrel::reg {

namespace {

using platform::toUtf8;
using platform::registry::predefinedKey;

constexpr DWORD kMaxKeyNameChars = 256;

void print(const std::wstring& line) { std::cout << toUtf8(line) << "\n"; }

int fail(LONG status) {
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND || status == ERROR_KEY_DELETED) {
        std::cerr << "ERROR: The system was unable to find the specified registry key or value.\n";
        return 1;
    }
    wchar_t text[512] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(status), 0, text, 512, nullptr);
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) message.pop_back();
    if (message.empty()) message = L"Error " + std::to_wstring(status) + L".";
    std::cerr << "ERROR: " << toUtf8(message) << "\n";
    return 1;
}

bool confirm(const std::wstring& question) {
    std::cout << toUtf8(question) << " (Yes/No)? " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    auto folded = platform::registry::foldName(platform::fromUtf8(answer));
    if (folded == L"Y" || folded == L"YES") return true;
    std::cout << "The operation was cancelled by the user.\n";
    return false;
}

int succeed() {
    std::cout << "The operation completed successfully.\n";
    return 0;
}

// The key path as this view sees it, e.g. with WOW6432Node for the 32-bit view.
std::wstring displayPath(const Arguments& arguments) {
    std::vector<std::wstring> levels;
    if (!platform::registry::splitKeyPath(arguments.subKey, levels)) levels = {arguments.subKey};
    platform::registry::applyView(arguments.root, levels, arguments.view);
    return platform::registry::joinKeyPath(arguments.root, levels);
}

std::wstring valueLine(const std::wstring& name, DWORD type, const std::vector<BYTE>& data) {
    return L"    " + (name.empty() ? std::wstring(L"(Default)") : name) + L"    " + typeName(type) + L"    " +
           formatData(type, data);
}

struct Value {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

LONG readValues(HKEY key, std::vector<Value>& values) {
    DWORD count = 0, maxName = 0, maxData = 0;
    LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxName,
                                   &maxData, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return status;
    for (DWORD index = 0;; ++index) {
        Value value;
        std::vector<wchar_t> name(maxName + 1);
        DWORD nameChars = static_cast<DWORD>(name.size());
        value.data.resize(maxData);
        DWORD dataSize = maxData;
        status = RegEnumValueW(key, index, name.data(), &nameChars, nullptr, &value.type, value.data.data(), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS) return status;
        value.name.assign(name.data(), nameChars);
        value.data.resize(dataSize);
        values.push_back(std::move(value));
    }
}

LONG readSubKeys(HKEY key, std::vector<std::wstring>& names) {
    for (DWORD index = 0;; ++index) {
        wchar_t name[kMaxKeyNameChars];
        DWORD chars = kMaxKeyNameChars;
        LONG status = RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS) return status;
        names.emplace_back(name, chars);
    }
}

class KeyHandle {
public:
    KeyHandle() = default;
    ~KeyHandle() {
        if (key_) RegCloseKey(key_);
    }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    HKEY* put() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// Prints one key of a /s query and everything below it; counts the matches of a /v search.
LONG queryTree(HKEY key, const std::wstring& path, const std::optional<std::wstring>& valueName, int& matches) {
    std::vector<Value> values;
    if (LONG status = readValues(key, values); status != ERROR_SUCCESS) return status;
    std::vector<std::wstring> lines;
    for (const auto& value : values) {
        if (valueName && platform::registry::foldName(*valueName) != platform::registry::foldName(value.name)) {
            continue;
        }
        lines.push_back(valueLine(value.name, value.type, value.data));
    }
    if (!valueName || !lines.empty()) {
        print(path);
        for (const auto& line : lines) print(line);
        print(L"");
        matches += static_cast<int>(lines.size());
    }
    std::vector<std::wstring> subKeys;
    if (LONG status = readSubKeys(key, subKeys); status != ERROR_SUCCESS) return status;
    for (const auto& name : subKeys) {
        KeyHandle child;
        if (LONG status = RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, child.put()); status != ERROR_SUCCESS) {
            return status;
        }
        if (LONG status = queryTree(child.get(), path + L"\\" + name, valueName, matches); status != ERROR_SUCCESS) {
            return status;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace

int runQuery(const Arguments& arguments) {
    KeyHandle key;
    LONG status =
        RegOpenKeyExW(predefinedKey(arguments.root), arguments.subKey.c_str(), 0, KEY_READ | arguments.view, key.put());
    if (status != ERROR_SUCCESS) return fail(status);
    auto path = displayPath(arguments);

    if (arguments.recursive) {
        print(L"");
        int matches = 0;
        if (status = queryTree(key.get(), path, arguments.value, matches); status != ERROR_SUCCESS) return fail(status);
        if (arguments.value) {
            if (matches == 0) return fail(ERROR_FILE_NOT_FOUND);
            print(L"End of search: " + std::to_wstring(matches) + L" match(es) found.");
        }
        return 0;
    }
    if (arguments.value) {
        DWORD type = REG_NONE, size = 0;
        status = RegQueryValueExW(key.get(), arguments.value->c_str(), nullptr, &type, nullptr, &size);
        std::vector<BYTE> data(size);
        if (status == ERROR_SUCCESS) {
            status = RegQueryValueExW(key.get(), arguments.value->c_str(), nullptr, &type, data.data(), &size);
        }
        if (status != ERROR_SUCCESS) return fail(status);
        data.resize(size);
        print(L"");
        print(path);
        print(valueLine(*arguments.value, type, data));
        print(L"");
        return 0;
    }
    std::vector<Value> values;
    std::vector<std::wstring> subKeys;
    if (status = readValues(key.get(), values); status != ERROR_SUCCESS) return fail(status);
    if (status = readSubKeys(key.get(), subKeys); status != ERROR_SUCCESS) return fail(status);
    print(L"");
    print(path);
    for (const auto& value : values) print(valueLine(value.name, value.type, value.data));
    print(L"");
    for (const auto& name : subKeys) print(path + L"\\" + name);
    return 0;
}

int runAdd(const Arguments& arguments) {
    std::vector<BYTE> data;
    if (arguments.value && !parseData(arguments.type, arguments.data.value_or(L""), data)) {
        std::cerr << "ERROR: Invalid syntax at " << toUtf8(arguments.data.value_or(L"")) << ", not data of type "
                  << toUtf8(typeName(arguments.type)) << ". Type \"nimbrel-reg --help\" for usage.\n";
        return 2;
    }
    KeyHandle key;
    LONG status =
        RegCreateKeyExW(predefinedKey(arguments.root), arguments.subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE | arguments.view, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) return fail(status);
    if (!arguments.value) return succeed();
    const auto& name = *arguments.value;
    if (!arguments.force &&
        RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        !confirm(L"Value " + (name.empty() ? std::wstring(L"(Default)") : name) + L" exists, overwrite")) {
        return 1;
    }
    status = RegSetValueExW(key.get(), name.c_str(), 0, arguments.type, data.data(), static_cast<DWORD>(data.size()));
    return status == ERROR_SUCCESS ? succeed() : fail(status);
}

int runDelete(const Arguments& arguments) {
    KeyHandle key;
    LONG status = RegOpenKeyExW(predefinedKey(arguments.root), arguments.subKey.c_str(), 0,
                                KEY_ALL_ACCESS | arguments.view, key.put());
    if (status != ERROR_SUCCESS) return fail(status);

    if (arguments.value) {
        const auto& name = *arguments.value;
        status = RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) return fail(status);
        if (!arguments.force &&
            !confirm(L"Delete the registry value " + (name.empty() ? std::wstring(L"(Default)") : name))) {
            return 1;
        }
        status = RegDeleteValueW(key.get(), name.c_str());
        return status == ERROR_SUCCESS ? succeed() : fail(status);
    }
    if (arguments.allValues) {
        if (!arguments.force && !confirm(L"Delete all values under the registry key " + displayPath(arguments))) {
            return 1;
        }
        std::vector<Value> values;
        if (status = readValues(key.get(), values); status != ERROR_SUCCESS) return fail(status);
        for (const auto& value : values) {
            if (status = RegDeleteValueW(key.get(), value.name.c_str()); status != ERROR_SUCCESS) return fail(status);
        }
        return succeed();
    }
    if (arguments.subKey.empty()) {
        std::cerr << "ERROR: Invalid key name " << toUtf8(displayPath(arguments))
                  << ": a root key cannot be deleted.\n";
        return 1;
    }
    if (!arguments.force && !confirm(L"Permanently delete the registry key " + displayPath(arguments))) return 1;
    status = RegDeleteTreeW(key.get(), nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteKeyExW(predefinedKey(arguments.root), arguments.subKey.c_str(), arguments.view, 0);
    }
    return status == ERROR_SUCCESS ? succeed() : fail(status);
}

}  // namespace nimbrel::reg
