#pragma once
// Resources of a module (FindResourceW and friends), for the data resources a host executable
// carries.
//
// An executable carries a resource as data linked into it and exported by symbol: for type T and
// name N it defines, with C linkage, the NimbrelResourceEntry named "nimbrel_resource_<T>_<N>"
// (an integer name or type in decimal, as in "nimbrel_resource_DATA_102"), plus the marker
// "nimbrel_resource_type_<T>" once per type. Executables export these symbols (for example with
// the linker option --export-dynamic-symbol=nimbrel_resource_*).

#include "platform/win_types.h"

using HRSRC = struct HRSRC__*;
using HGLOBAL = void*;

#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEW
#define IS_INTRESOURCE(r) ((reinterpret_cast<ULONG_PTR>(r) >> 16) == 0)
#define RT_RCDATA MAKEINTRESOURCEW(10)

#ifndef ERROR_RESOURCE_DATA_NOT_FOUND
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#endif
#ifndef ERROR_RESOURCE_TYPE_NOT_FOUND
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#endif
#ifndef ERROR_RESOURCE_NAME_NOT_FOUND
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#endif

// One resource as an executable defines it.
struct NimbrelResourceEntry {
    const unsigned char* data;
    DWORD size;
};

extern "C" {
// module null: the process's executable. Fails with ERROR_RESOURCE_TYPE_NOT_FOUND when the module
// has no resource of that type, ERROR_RESOURCE_NAME_NOT_FOUND when it has none of that name.
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
}
