#pragma once
// The code pages the stand-in knows, by their iconv names.

#include "platform/win_types.h"

namespace nimbrel::platform {

// CP_ACP and CP_OEMCP are GBK (code page 936), as on a Chinese Windows. Null for an unknown page.
const char* charsetForCodePage(UINT codePage);

}  // namespace nimbrel::platform
