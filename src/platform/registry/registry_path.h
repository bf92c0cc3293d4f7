#pragma once
// Names and paths of registry keys: the predefined roots, case folding, splitting of key paths and
// the 32-bit view's redirection. Shared by the registry functions and the nimbrel-reg tool.

#include <optional>
#include <string>
#include <vector>

#include "platform/win_registry.h"

namespace nimbrel::platform::registry {

enum class Root { ClassesRoot = 0, CurrentUser = 1, LocalMachine = 2 };

std::optional<Root> predefinedRoot(HKEY key);
HKEY predefinedKey(Root root);
// "HKEY_CURRENT_USER" and so on.
std::wstring rootName(Root root);
// Long or short root names ("HKEY_LOCAL_MACHINE", "HKLM"), in any case.
std::optional<Root> parseRootName(const std::wstring& name);

// Key and value names compare case-insensitively; this is the form they are compared in.
std::wstring foldName(const std::wstring& name);

// Splits "a\b\c" into its levels. A single trailing "\" is accepted; a leading "\" or an empty
// level is not (false).
bool splitKeyPath(const std::wstring& path, std::vector<std::wstring>& levels);
std::wstring joinKeyPath(Root root, const std::vector<std::wstring>& levels);

// The view bits of an access mask: KEY_WOW64_32KEY, KEY_WOW64_64KEY or 0.
REGSAM viewOf(REGSAM samDesired);
// Inserts "WOW6432Node" after HKEY_LOCAL_MACHINE\SOFTWARE for the 32-bit view.
void applyView(Root root, std::vector<std::wstring>& levels, REGSAM view);

}  // namespace nimbrel::platform::registry
