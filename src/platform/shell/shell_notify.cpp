// SHChangeNotify and the special-folder item list: the shell's side of Explorer notifications.
#include <cstdlib>
#include <cstring>

#include "platform/platform_paths.h"
#include "platform/shlobj.h"
#include "shell_event_names.h"
#include "shell_journal_format.h"
#include "shell_journal_writer.h"

using namespace nimbrel::platform;

namespace {

void addPath(ShellJournalRecord& record, UINT itemType, LPCVOID item) {
    if (!item) return;
    if (itemType == SHCNF_PATHW) {
        const std::wstring path(static_cast<const wchar_t*>(item));
        record.paths.push_back({toUtf8(path), toHostPath(path)});
    } else if (itemType == SHCNF_PATHA) {
        const std::string path(static_cast<const char*>(item));
        record.paths.push_back({path, toHostPath(path)});
    }
}

// This PC as Windows names it: one shell item holding the folder's class identifier.
constexpr BYTE kDrivesItem[] = {0x14, 0x00, 0x1F, 0x50, 0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69,
                                0x10, 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D, 0x00, 0x00};

}  // namespace

extern "C" void SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2) {
    ShellJournalRecord record = shell::newJournalRecord("SHChangeNotify");
    record.event = static_cast<std::uint32_t>(wEventId);
    record.eventNames = shell::shellEventNames(record.event);
    record.flags = uFlags;
    record.flagNames = shell::shellFlagNames(uFlags);
    addPath(record, uFlags & SHCNF_TYPE, dwItem1);
    addPath(record, uFlags & SHCNF_TYPE, dwItem2);
    shell::appendJournalLine(shell::formatJournalRecord(record));
}

extern "C" HRESULT SHGetSpecialFolderLocation(HWND, int csidl, PIDLIST_ABSOLUTE* ppidl) {
    if (!ppidl) return E_INVALIDARG;
    *ppidl = nullptr;
    if (csidl != CSIDL_DRIVES) return E_INVALIDARG;
    void* list = std::malloc(sizeof kDrivesItem);
    if (!list) return E_OUTOFMEMORY;
    std::memcpy(list, kDrivesItem, sizeof kDrivesItem);
    *ppidl = static_cast<PIDLIST_ABSOLUTE>(list);
    return S_OK;
}

extern "C" void ILFree(PIDLIST_RELATIVE pidl) { std::free(pidl); }
