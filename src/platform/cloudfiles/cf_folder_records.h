#pragma once
// The records of the folders a thread read lately: the items a client pushes into one folder one
// after another each look at that folder's record, and it is read from the folder once. A kept
// record answers while no process counted a change of a folder record since it was read (see
// folderRecordChanges), for the folder it was read from: its device, inode and birth time tell it
// from a later folder that got its inode.

#include <sys/stat.h>

#include <cstdint>
#include <optional>

#include "cf_store.h"

namespace nimbrel::platform::cf {

// The record kept for the folder `folder` describes, read when the count was `changes`.
std::optional<PlaceholderRecord> keptFolderRecord(const struct ::statx& folder, std::uint64_t changes);
// Keeps `record`, read from the folder `folder` describes after the count was `changes`.
void keepFolderRecord(const struct ::statx& folder, std::uint64_t changes, const PlaceholderRecord& record);

}  // namespace nimbrel::platform::cf
