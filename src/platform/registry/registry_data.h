#pragma once
// Value data between the caller's form and the stored form. String types are stored as UTF-16LE,
// as Windows stores them, and exchanged with callers as wchar_t (see win_registry.h).

#include <string>

#include "platform/win_registry.h"

namespace nimbrel::platform::registry {

bool isStringType(DWORD type);
std::string toStoredData(DWORD type, const BYTE* data, DWORD size);
std::string toCallerData(DWORD type, const std::string& stored);

}  // namespace nimbrel::platform::registry
