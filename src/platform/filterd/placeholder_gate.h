#pragma once
// What the filter mount asks of the Cloud Files stand-in about one file of a root: whether it is a
// placeholder whose data is not local, fetching it for a process through the root's filter port,
// the open notification, and clearing in-sync when a process writes data.

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>

#include "cf_store.h"

namespace nimbrel::platform::cf {

class PlaceholderGate {
public:
    explicit PlaceholderGate(std::string rootPath);

    // The record of the placeholder behind `fd` (opened in the covered folder); nullopt otherwise.
    // *recordLost, when given, tells whether the file carries a record attribute that no record can
    // be read from (a placeholder of an earlier build whose record a machine that stopped did not
    // keep, and whose data is unknown).
    std::optional<PlaceholderRecord> placeholderOf(int fd, bool* recordLost = nullptr) const;
    // Whether the file at `accessPath` is a placeholder whose data is not all local.
    bool isDehydrated(const std::string& accessPath) const;
    // FETCH_DATA of the whole file at `relative` for the process (thread id as FUSE reports it);
    // the NTSTATUS the read completes with.
    NTSTATUS fetch(const std::string& relative, pid_t thread) const;
    // OPEN_COMPLETION for the process; whether that process is the connected provider itself.
    bool opened(const std::string& relative, pid_t thread) const;
    // A data write into the placeholder behind `fd`: it is no longer in sync; `local` also records
    // that every byte is local (a truncation to nothing needs no fetch).
    void written(int fd, bool local = false) const;

private:
    std::string hostPath(const std::string& relative) const;
    // The record of the placeholder at `path` (or behind `fd` when fd >= 0).
    std::optional<PlaceholderRecord> recordFor(const std::string& path, int fd, bool* recordLost = nullptr) const;

    std::string rootPath_;
};

}  // namespace nimbrel::platform::cf
