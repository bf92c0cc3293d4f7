#pragma once
// Named file mappings (sections) backed by the page file.

#include "platform/win_types.h"

#define PAGE_NOACCESS 0x01u
#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define PAGE_WRITECOPY 0x08u
#define PAGE_EXECUTE_READ 0x20u
#define PAGE_EXECUTE_READWRITE 0x40u
#define SEC_COMMIT 0x08000000u
#define SEC_RESERVE 0x04000000u

#define SECTION_QUERY 0x0001u
#define SECTION_MAP_WRITE 0x0002u
#define SECTION_MAP_READ 0x0004u
#define SECTION_MAP_EXECUTE 0x0008u
#define SECTION_EXTEND_SIZE 0x0010u
#define SECTION_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | 0x1Fu)

#define FILE_MAP_COPY 0x0001u
#define FILE_MAP_WRITE SECTION_MAP_WRITE
#define FILE_MAP_READ SECTION_MAP_READ
#define FILE_MAP_EXECUTE 0x0020u
#define FILE_MAP_ALL_ACCESS SECTION_ALL_ACCESS

#ifndef ERROR_INVALID_ADDRESS
#define ERROR_INVALID_ADDRESS 487L
#endif
#ifndef ERROR_MAPPED_ALIGNMENT
#define ERROR_MAPPED_ALIGNMENT 1132L
#endif

extern "C" {
// file INVALID_HANDLE_VALUE: a section on the page file, zero-filled. A name that already exists
// answers a handle to that section (with its own size) and ERROR_ALREADY_EXISTS. A section lives
// while any process holds a handle to it or a view of it. Failure answers null.
HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name);
// ERROR_FILE_NOT_FOUND when no process holds a section of that name.
HANDLE OpenFileMappingA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
// bytesToMap 0 maps from the offset to the end of the section.
LPVOID MapViewOfFile(HANDLE fileMappingObject, DWORD desiredAccess, DWORD fileOffsetHigh, DWORD fileOffsetLow,
                     SIZE_T numberOfBytesToMap);
BOOL UnmapViewOfFile(LPCVOID baseAddress);
}
