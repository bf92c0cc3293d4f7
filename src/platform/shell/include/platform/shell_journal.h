#pragma once
// The user's shell journal: what Explorer would have been told. Every SHChangeNotify and every
// settings-change broadcast of any process appends one JSON line to a file under the platform
// home; past a few MiB the file rolls over to one older file. Tests and `nimbrel-shell` read it
// here.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace nimbrel::platform {

struct ShellJournalPath {
    std::string windows;  // as the caller gave it
    std::string host;     // the path it names here
};

struct ShellJournalRecord {
    long long timeMs = 0;  // milliseconds since 1970-01-01 UTC
    long pid = 0;
    std::string process;      // the caller's process name
    std::string call;         // "SHChangeNotify" or "SendMessageTimeoutW"
    std::uint32_t event = 0;  // the event, or the window message
    std::string eventNames;   // "SHCNE_UPDATEITEM|SHCNE_ATTRIBUTES", "WM_SETTINGCHANGE"
    std::uint32_t flags = 0;
    std::string flagNames;  // "SHCNF_PATHW|SHCNF_FLUSHNOWAIT", "SMTO_ABORTIFHUNG"
    std::string text;       // the setting named by a broadcast
    std::vector<ShellJournalPath> paths;
    std::string json;  // the record as stored, one line
};

// The current journal file; the older one is this path with ".1" added.
std::string shellJournalPath();

// Every record still kept, oldest first: the older file, then the current one.
std::vector<ShellJournalRecord> readShellJournal();

// Reads records as they are appended, across roll-overs, in the order they were written.
class ShellJournalFollower {
public:
    // From the oldest record kept when `fromStart`, else from the end of the journal now.
    explicit ShellJournalFollower(bool fromStart);
    ~ShellJournalFollower();
    ShellJournalFollower(const ShellJournalFollower&) = delete;
    ShellJournalFollower& operator=(const ShellJournalFollower&) = delete;

    // The records appended since the last call; empty when there are none yet.
    std::vector<ShellJournalRecord> poll();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace nimbrel::platform
