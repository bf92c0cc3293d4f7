#pragma once
// Whether a SQLite database in write-ahead-log mode has seen a commit since an earlier look, found
// without a system call or a lock: the header of its WAL index (the "-shm" file beside it, whose
// layout is part of SQLite's documented file format) changes with every commit of every process
// and counts the commits. It is read here through a shared mapping of its own.

#include <array>
#include <cstdint>
#include <string>

namespace nimbrel::platform::cf {

class ChangeMark {
public:
    // The first copy of the WAL-index header.
    using Value = std::array<unsigned char, 48>;

    // Maps the index file of the database at `databasePath`; false when it cannot, and the mark
    // then never reads. Every mark of one index file in the process shares one descriptor and one
    // mapping, which stay until the process ends: POSIX locks belong to the process and go with
    // the close of any of its descriptors of a file, so closing one would drop SQLite's locks on
    // the index, and the next process to open the database would take it for unused and truncate
    // it under the caller's mapping (SIGBUS on its next commit).
    bool open(const std::string& databasePath);
    // The header as it is now; false when the mark is not open or the index is not initialised.
    bool read(Value& value) const;
    // How many commits the header counts.
    static std::uint32_t commits(const Value& value);

private:
    const unsigned char* header_ = nullptr;
};

}  // namespace nimbrel::platform::cf
