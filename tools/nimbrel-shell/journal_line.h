#pragma once
// One journal record as `nimbrel-shell` prints it: local time, process, event names and the
// path(s) as they are here, or the setting a broadcast named.

#include <string>

#include "platform/shell_journal.h"

std::string journalLine(const nimbrel::platform::ShellJournalRecord& record);
