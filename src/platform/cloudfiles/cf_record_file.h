#pragma once
// A placeholder's record, kept on the file itself in its one extended attribute (cf_record_codec.h
// gives its bytes), so that it follows renames, goes with the file and costs no store transaction.
// The record names the device and inode of the file it was made for: a copy that takes the
// attribute along is not taken for the placeholder. A change of a record is atomic across the
// threads and processes that change records: each holds the file's RecordLock while it reads and
// writes.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "cf_record_lock.h"
#include "cf_store.h"

namespace nimbrel::platform::cf {

// The extended attribute that holds a placeholder's record.
inline constexpr const char* kRecordAttribute = "user.nimbrel.cf";

// A file whose record is read or written.
struct RecordFile {
    std::string path;  // for system calls on it
    int fd = -1;       // a descriptor of it that may answer attribute calls, or -1
    // The file's own device and inode (those of the file found at `path`); both 0 when not known,
    // which costs a look when they are needed.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // A descriptor of it that answers fstat(2), even one opened only for its path; -1 when there is
    // none (a write is then not remembered, see cf_written_records.h).
    int statFd = -1;
};

// The record the file carries, whatever file it was made for; none for an ordinary file. *lost,
// when given, tells whether the file carries an attribute that no record can be read from (a
// token of an earlier build whose row a machine that stopped did not keep). A record an earlier
// build kept in the store is rewritten onto the file the first time it is met, unless the caller
// holds a record lock (`lockHeld`): it is then only read.
std::optional<PlaceholderRecord> readRecord(const RecordFile& file, bool* lost = nullptr, bool lockHeld = false);
// Whether the file carries a record attribute at all, read with one call.
bool carriesRecord(const std::string& path, int fd = -1);
// Writes the record of a file that no other thread or process can reach yet (not yet named).
bool writeNewRecord(int fd, PlaceholderRecord& record);
// Puts `record` on the file, replacing what it carried.
bool writeRecord(const RecordFile& file, PlaceholderRecord record);
// Reads, changes and writes the file's record under its lock; `change` answers whether to write,
// and a write counts one more usn. False when the file carries no record made for it or the write
// fails. *after, when given, gets the record as it is afterwards. `known`, when given, is the record
// as the caller read it a moment ago: a change that would leave it as it is writes nothing.
bool updateRecord(const RecordFile& file, const std::function<bool(PlaceholderRecord&)>& change,
                  PlaceholderRecord* after = nullptr, const PlaceholderRecord* known = nullptr);
// Changes `record`, read from the file under its lock, which the caller holds: `change` answers
// whether to write, and a write counts one more usn. `record` is the record afterwards; false when
// the write fails (the record is then as it was). A write through a descriptor is remembered.
bool changeLockedRecord(const RecordFile& file, PlaceholderRecord& record,
                        const std::function<bool(PlaceholderRecord&)>& change);
// Takes the record off the file: it is an ordinary file again.
void removeRecord(const std::string& path);

}  // namespace nimbrel::platform::cf
