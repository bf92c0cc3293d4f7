#pragma once
// Value data as nimbrel-reg shows it and reads it from /d, in reg.exe's forms.

#include <string>
#include <vector>

#include "platform/win_registry.h"

namespace nimbrel::reg {

// `data` as the W functions hand it out (string types in wchar_t units).
std::wstring formatData(DWORD type, const std::vector<BYTE>& data);
// False when `text` is not valid data of `type`.
bool parseData(DWORD type, const std::wstring& text, std::vector<BYTE>& data);

}  // namespace nimbrel::reg
