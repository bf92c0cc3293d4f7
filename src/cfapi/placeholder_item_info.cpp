#include "cfapi/placeholder_item_info.h"

#include <QDateTime>
#include <QString>

#include "suite/base/x_file_info.h"

namespace {

// What some clients send for "no time": the largest 32-bit second count in milliseconds.
constexpr qint64 kUnsetMarker = 4294967295000LL;

bool isUnset(qint64 time) { return time <= 0 || time == kUnsetMarker; }

qint64 secondsOf(const QDateTime& time) { return time.isValid() ? time.toSecsSinceEpoch() : 0; }

}  // namespace

void PlaceholderItemInfo::normalizeTimes() {
    // The local item is only looked at when the client left a time unset.
    if (isUnset(creationTime) || isUnset(modificationTime) || isUnset(accessTime)) {
        const CXFileInfo local(QString::fromStdWString(path));
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        auto fill = [&](qint64& time, const QDateTime& localTime) {
            if (!isUnset(time)) return;
            qint64 seconds = local.exists() ? secondsOf(localTime) : 0;
            time = seconds != 0 ? seconds : now;
        };
        fill(creationTime, local.created());
        fill(modificationTime, local.lastModified());
        fill(accessTime, local.lastRead());
    }
    if (modificationTime < creationTime) creationTime = modificationTime;
    if (accessTime < modificationTime) accessTime = modificationTime;
}
