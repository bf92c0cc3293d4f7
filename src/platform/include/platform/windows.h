#pragma once
// The Win32 subset Nimbrel calls, with Windows names, values and signatures.

#include "platform/win_com.h"
#include "platform/win_console.h"
#include "platform/win_error.h"
#include "platform/win_event.h"
#include "platform/win_file.h"
#include "platform/win_file_info.h"
#include "platform/win_handle.h"
#include "platform/win_mapping.h"
#include "platform/win_module.h"
#include "platform/win_process.h"
#include "platform/win_registry.h"
#include "platform/win_security.h"
#include "platform/win_string.h"
#include "platform/win_sync.h"
#include "platform/win_types.h"
#include "platform/win_user.h"
