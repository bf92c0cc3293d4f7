#pragma once
// Questions the other stand-ins ask of a security descriptor built with the Windows calls.

#include "platform/win_types.h"

namespace nimbrel::platform {

// True when the descriptor's DACL is present and has an access-allowed entry for Everyone (S-1-1-0)
// that grants GENERIC_ALL, or when the DACL is present but null (which grants everyone everything).
bool grantsEveryoneFullAccess(const SECURITY_ATTRIBUTES* attributes);

}  // namespace nimbrel::platform
