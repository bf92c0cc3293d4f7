#include "reg_arguments.h"

#include <vector>

#include "platform/platform_paths.h"

namespace nimbrel::reg {

namespace {

using platform::registry::foldName;

struct TypeName {
    DWORD type;
    const wchar_t* name;
};

constexpr TypeName kTypes[] = {
    {REG_SZ, L"REG_SZ"},       {REG_EXPAND_SZ, L"REG_EXPAND_SZ"}, {REG_DWORD, L"REG_DWORD"},
    {REG_QWORD, L"REG_QWORD"}, {REG_BINARY, L"REG_BINARY"},       {REG_MULTI_SZ, L"REG_MULTI_SZ"},
    {REG_NONE, L"REG_NONE"},
};

bool parseKey(const std::wstring& text, Arguments& arguments) {
    auto separator = text.find(L'\\');
    auto root = platform::registry::parseRootName(text.substr(0, separator));
    if (!root) return false;
    arguments.root = *root;
    if (separator != std::wstring::npos) arguments.subKey = text.substr(separator + 1);
    while (!arguments.subKey.empty() && arguments.subKey.back() == L'\\') arguments.subKey.pop_back();
    return true;
}

std::optional<Operation> parseOperation(const std::wstring& word) {
    auto folded = foldName(word);
    if (folded == L"QUERY") return Operation::Query;
    if (folded == L"ADD") return Operation::Add;
    if (folded == L"DELETE") return Operation::Delete;
    if (folded == L"/?" || folded == L"-?" || folded == L"/HELP" || folded == L"--HELP" || folded == L"-H")
        return Operation::Help;
    return std::nullopt;
}

}  // namespace

std::optional<DWORD> parseTypeName(const std::wstring& name) {
    for (const auto& entry : kTypes) {
        if (foldName(name) == entry.name) return entry.type;
    }
    return std::nullopt;
}

std::wstring typeName(DWORD type) {
    for (const auto& entry : kTypes) {
        if (entry.type == type) return entry.name;
    }
    return L"REG_UNKNOWN";
}

ParseResult parseArguments(int argc, char** argv, Arguments& arguments) {
    std::vector<std::wstring> words;
    for (int i = 1; i < argc; ++i) words.push_back(platform::fromUtf8(argv[i]));
    if (words.empty()) return ParseResult::InvalidSyntax;
    auto operation = parseOperation(words[0]);
    if (!operation) {
        arguments.rejected = argv[1];
        return ParseResult::InvalidSyntax;
    }
    arguments.operation = *operation;
    if (*operation == Operation::Help) return words.size() == 1 ? ParseResult::Ok : ParseResult::InvalidSyntax;
    if (words.size() < 2) return ParseResult::InvalidSyntax;
    if (!parseKey(words[1], arguments)) return ParseResult::InvalidKey;

    bool isQuery = *operation == Operation::Query;
    bool isAdd = *operation == Operation::Add;
    bool isDelete = *operation == Operation::Delete;
    for (std::size_t i = 2; i < words.size(); ++i) {
        auto option = foldName(words[i]);
        if (!option.empty() && option[0] == L'-') option[0] = L'/';
        bool hasNext = i + 1 < words.size();
        if (option == L"/V" && hasNext && !arguments.value) {
            arguments.value = words[++i];
        } else if (option == L"/VE" && !arguments.value) {
            arguments.value = std::wstring();
        } else if (option == L"/VA" && isDelete) {
            arguments.allValues = true;
        } else if (option == L"/S" && isQuery) {
            arguments.recursive = true;
        } else if (option == L"/F" && !isQuery) {
            arguments.force = true;
        } else if (option == L"/T" && isAdd && hasNext) {
            auto type = parseTypeName(words[++i]);
            if (!type) {
                arguments.rejected = argv[i + 1];
                return ParseResult::InvalidSyntax;
            }
            arguments.type = *type;
        } else if (option == L"/D" && isAdd && hasNext) {
            arguments.data = words[++i];
        } else if (option == L"/REG:32" && !arguments.view) {
            arguments.view = KEY_WOW64_32KEY;
        } else if (option == L"/REG:64" && !arguments.view) {
            arguments.view = KEY_WOW64_64KEY;
        } else {
            arguments.rejected = argv[i + 1];
            return ParseResult::InvalidSyntax;
        }
    }
    if (arguments.allValues && arguments.value) return ParseResult::InvalidSyntax;
    return ParseResult::Ok;
}

const char* usageText() {
    return "Usage:\n"
           "  nimbrel-reg --help | -h | /?\n"
           "  nimbrel-reg query KEY [/v NAME | /ve] [/s] [/reg:32 | /reg:64]\n"
           "  nimbrel-reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f] [/reg:32 | /reg:64]\n"
           "  nimbrel-reg delete KEY [/v NAME | /ve | /va] [/f] [/reg:32 | /reg:64]\n"
           "\n"
           "  KEY      ROOT\\SubKey, ROOT one of HKCU, HKLM, HKCR, HKEY_CURRENT_USER,\n"
           "           HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT\n"
           "  /v       the value to query, add or delete; /ve the default value, /va every value\n"
           "  /s       query every sub-key below KEY as well\n"
           "  /t       REG_SZ (default), REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_BINARY,\n"
           "           REG_MULTI_SZ (strings separated by \\0) or REG_NONE\n"
           "  /d       the data; DWORD and QWORD in decimal or 0x hexadecimal, BINARY in hex digits\n"
           "  /f       overwrite or delete without asking\n"
           "  /reg:32  the 32-bit registry view; /reg:64 the 64-bit view (the default)\n";
}

}  // namespace nimbrel::reg
