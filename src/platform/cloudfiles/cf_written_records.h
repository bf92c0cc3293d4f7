#pragma once
// The records this process wrote last, so that a change following its own write does not read the
// record back from the file. One is remembered with the file's ctime right after the write, looked
// at while the record's lock was held: any later change of the file, by any thread or process,
// gives it another ctime (the write's ctime was queried, so the next change gets a finer one), and
// the remembered record then no longer answers. Only read and written while the file's record lock
// is held.

#include <sys/stat.h>

#include <optional>

#include "cf_store.h"

namespace nimbrel::platform::cf {

// `record` is on the file now, which `after` (its stat right after the write) describes.
void rememberWritten(const PlaceholderRecord& record, const struct ::stat& after);
// The record this process wrote last on the file `now` describes, when nothing changed the file
// since.
std::optional<PlaceholderRecord> recallWritten(const struct ::stat& now);

}  // namespace nimbrel::platform::cf
