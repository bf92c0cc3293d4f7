#pragma once
// A journal record as one line of JSON, and back.

#include <string>

#include "platform/shell_journal.h"

namespace nimbrel::platform::shell {

std::string formatJournalRecord(const ShellJournalRecord& record);
// False for a line that is not a record (a torn or foreign line is skipped by readers).
bool parseJournalRecord(const std::string& line, ShellJournalRecord& record);

// The caller's side of a record: time, process id and name.
ShellJournalRecord newJournalRecord(const char* call);

}  // namespace nimbrel::platform::shell
