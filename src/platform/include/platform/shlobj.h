#pragma once
// The shell functions Nimbrel calls, with their Windows names, values and signatures: change
// notifications for Explorer and the one special folder Nimbrel resolves.
//
// Explorer is not here to listen, so every notification becomes a record of the user's shell
// journal under the platform home (platform/shell_journal.h), which `nimbrel-shell` shows. Items
// are read as UTF-16 paths (wchar_t text) with SHCNF_PATHW; with the other item types only the
// event is recorded. A journal that cannot be written is reported once in the process's log and
// the call returns as on Windows, where SHChangeNotify cannot fail.

#include "platform/win_types.h"

// Events.
#define SHCNE_RENAMEITEM 0x00000001L
#define SHCNE_CREATE 0x00000002L
#define SHCNE_DELETE 0x00000004L
#define SHCNE_MKDIR 0x00000008L
#define SHCNE_RMDIR 0x00000010L
#define SHCNE_ATTRIBUTES 0x00000800L
#define SHCNE_UPDATEDIR 0x00001000L
#define SHCNE_UPDATEITEM 0x00002000L
#define SHCNE_ASSOCCHANGED 0x08000000L

// Item types (the low byte) and delivery flags. SHCNF_FLUSHNOWAIT includes SHCNF_FLUSH.
#define SHCNF_IDLIST 0x0000u
#define SHCNF_PATHA 0x0001u
#define SHCNF_DWORD 0x0003u
#define SHCNF_PATHW 0x0005u
#define SHCNF_TYPE 0x00FFu
#define SHCNF_FLUSH 0x1000u
#define SHCNF_FLUSHNOWAIT 0x3000u

// Special folders.
#define CSIDL_DESKTOP 0x0000
#define CSIDL_DRIVES 0x0011

struct SHITEMID {
    USHORT cb;
    BYTE abID[1];
};
struct ITEMIDLIST {
    SHITEMID mkid;
};
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;
using PIDLIST_ABSOLUTE = ITEMIDLIST*;
using PIDLIST_RELATIVE = ITEMIDLIST*;

extern "C" {
void SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2);
// The item list of a special folder, to be freed with ILFree; E_INVALIDARG for a folder that is
// not known here.
HRESULT SHGetSpecialFolderLocation(HWND hwnd, int csidl, PIDLIST_ABSOLUTE* ppidl);
void ILFree(PIDLIST_RELATIVE pidl);
}
