// SendMessageTimeoutW: only the settings-change broadcast reaches anyone, and it reaches the
// journal.
#include "platform/platform_paths.h"
#include "platform/win_error.h"
#include "platform/win_user.h"
#include "shell_event_names.h"
#include "shell_journal_format.h"
#include "shell_journal_writer.h"

using namespace nimbrel::platform;

extern "C" LRESULT SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM, LPARAM lParam, UINT fuFlags, UINT,
                                       PDWORD_PTR lpdwResult) {
    if (hWnd != HWND_BROADCAST) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    ShellJournalRecord record = shell::newJournalRecord("SendMessageTimeoutW");
    record.event = Msg;
    record.eventNames = shell::windowMessageName(Msg);
    record.flags = fuFlags;
    record.flagNames = shell::messageTimeoutFlagNames(fuFlags);
    if (Msg == WM_SETTINGCHANGE && lParam) record.text = toUtf8(std::wstring(reinterpret_cast<const wchar_t*>(lParam)));
    shell::appendJournalLine(shell::formatJournalRecord(record));
    if (lpdwResult) *lpdwResult = 0;
    return 1;
}
