#pragma once
// File information records shared by the file functions and the Cloud Files API.

#include "platform/win_types.h"

// FileBasicInfo of GetFileInformationByHandleEx/SetFileInformationByHandle; also the metadata part of
// every placeholder the Cloud Files API creates or updates (CF_FS_METADATA).
struct FILE_BASIC_INFO {
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    DWORD FileAttributes;
};
using PFILE_BASIC_INFO = FILE_BASIC_INFO*;
