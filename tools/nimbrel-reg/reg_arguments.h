#pragma once
// The command line of nimbrel-reg, in the manner of reg.exe:
//   nimbrel-reg query KEY [/v NAME | /ve] [/s] [/reg:32 | /reg:64]
//   nimbrel-reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f] [/reg:32 | /reg:64]
//   nimbrel-reg delete KEY [/v NAME | /ve | /va] [/f] [/reg:32 | /reg:64]

#include <optional>
#include <string>

#include "registry_path.h"

namespace nimbrel::reg {

enum class Operation { Query, Add, Delete, Help };

struct Arguments {
    Operation operation = Operation::Help;
    platform::registry::Root root = platform::registry::Root::CurrentUser;
    std::wstring subKey;                // below the root, without a leading "\"
    std::optional<std::wstring> value;  // /v NAME; an empty name for /ve
    bool allValues = false;             // /va
    bool recursive = false;             // /s
    bool force = false;                 // /f
    DWORD type = REG_SZ;                // /t
    std::optional<std::wstring> data;   // /d
    REGSAM view = 0;                    // /reg:32, /reg:64
    std::string rejected;               // the word that made the command line invalid, if one did
};

enum class ParseResult { Ok, InvalidSyntax, InvalidKey };

ParseResult parseArguments(int argc, char** argv, Arguments& arguments);
std::optional<DWORD> parseTypeName(const std::wstring& name);
std::wstring typeName(DWORD type);
const char* usageText();

}  // namespace nimbrel::reg
