#pragma once
// Which journal records a PATH argument selects: those naming PATH or an item below it. A PATH
// starting with "/" is matched against the paths as they are here; any other against the Windows
// text the caller gave, ignoring case and the kind of separator.

#include <string>

#include "platform/shell_journal.h"

class JournalFilter {
public:
    // An empty path selects every record.
    explicit JournalFilter(std::string path);
    bool selects(const nimbrel::platform::ShellJournalRecord& record) const;

private:
    bool hostPath_ = false;
    std::string prefix_;
};
