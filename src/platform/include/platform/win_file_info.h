#pragma once
// The FILE_*_INFO records are declared in win_file.h beside the functions that fill them.

#include "platform/win_file.h"
