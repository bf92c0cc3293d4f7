#pragma once
// The part of Windows share modes that a replace or delete depends on: while any handle that did not
// grant FILE_SHARE_DELETE is open on a file, in this process or another, the file cannot be deleted,
// renamed or replaced (ERROR_SHARING_VIOLATION).

#include <string>

namespace nimbrel::platform {

// Marks the open file behind `fd` as not sharing delete for as long as that open lasts (an open
// file description lock, so it spans processes and ends with the last descriptor of the open).
void refuseDeleteSharing(int fd);
// True when some open of the file at `hostPath` refuses delete sharing.
bool deleteSharingRefused(const std::string& hostPath);

}  // namespace nimbrel::platform
