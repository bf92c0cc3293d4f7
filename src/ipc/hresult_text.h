#pragma once
// HRESULTs travel in logs and replies as "0x%08x".

#include <string>

#include "platform/win_types.h"

std::string hresultText(HRESULT hr);
