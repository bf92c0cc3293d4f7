#pragma once
// Appends records to the user's shell journal. Each record is one line written with one append
// on a freshly opened file, so writers in several processes never interleave and a roll-over by
// one of them never loses another's record. Nothing waits on a lock: when another writer is
// rolling the file over, this one leaves it to them.

#include <string>

namespace nimbrel::platform::shell {

// Past this size the journal rolls over to its one older file.
inline constexpr long long kJournalMaxBytes = 4LL * 1024 * 1024;

// False when the journal could not be written; the first failure of the process is reported.
bool appendJournalLine(const std::string& line);

}  // namespace nimbrel::platform::shell
