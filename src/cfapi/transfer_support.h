#pragma once
// The pieces every transfer to the filter shares (not part of CfApiWrapper's interface).

#include <string>

#include "platform/cfapi.h"

namespace transfer_support {

// Every transfer but a file's last covers whole units.
constexpr LONGLONG kUnit = 4096;

// The buffer of every transfer that carries no real data: kUnit bytes of 0x55.
const BYTE* fillerBlock();

// One CfExecute TRANSFER_DATA.
HRESULT execute(CF_CONNECTION_KEY connectionKey, CF_TRANSFER_KEY transferKey, NTSTATUS status, const void* buffer,
                LONGLONG offset, LONGLONG length);

// The placeholder identity of a request as UTF-8 text up to its first NUL: the task id.
std::string taskIdOf(const CF_CALLBACK_INFO* info);

}  // namespace transfer_support
