#pragma once

#include <string>

// True when `path` names a Cloud Files placeholder: a reparse point whose tag is one of the cloud
// tags. False for ordinary files, other reparse points and missing items.
bool IsCloudFile(const std::wstring& path);
