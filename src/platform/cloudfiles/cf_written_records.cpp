#include "cf_written_records.h"

#include <array>

#include "cf_record_lock.h"
#include "platform/win32_filetime.h"

namespace nimbrel::platform::cf {

namespace {

struct Written {
    dev_t device = 0;
    ino_t inode = 0;
    struct timespec changed {};
    std::optional<PlaceholderRecord> record;
};

// One per record lock: a slot is only touched under its lock, which keeps threads apart too.
std::array<Written, kRecordLocks>& slots() {
    static auto* instance = new std::array<Written, kRecordLocks>;
    return *instance;
}

}  // namespace

void rememberWritten(const PlaceholderRecord& record, const struct ::stat& after) {
    Written& slot = slots()[recordLockIndex(after.st_dev, after.st_ino)];
    slot.device = after.st_dev;
    slot.inode = after.st_ino;
    slot.changed = after.st_ctim;
    slot.record = record;
}

std::optional<PlaceholderRecord> recallWritten(const struct ::stat& now) {
    const Written& slot = slots()[recordLockIndex(now.st_dev, now.st_ino)];
    if (!slot.record || slot.device != now.st_dev || slot.inode != now.st_ino || !sameTime(slot.changed, now.st_ctim))
        return std::nullopt;
    return slot.record;
}

}  // namespace nimbrel::platform::cf
