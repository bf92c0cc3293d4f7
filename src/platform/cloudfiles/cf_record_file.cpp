#include "cf_record_file.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "cf_covered.h"
#include "cf_record_codec.h"
#include "cf_written_records.h"
#include "platform/descriptor_paths.h"

namespace nimbrel::platform::cf {

namespace {

// Longer than any value this build writes; an identity that does not fit on the file is in the
// store.
constexpr std::size_t kAttributeBuffer = 256;

ssize_t getAttribute(const std::string& path, int fd, char* buffer, std::size_t size) {
    ssize_t n = fd >= 0 ? ::fgetxattr(fd, kRecordAttribute, buffer, size) : -1;
    // A descriptor opened only for its path cannot answer; its path can.
    if (n < 0 && (fd < 0 || errno == EBADF)) n = getXattrPath(path, kRecordAttribute, buffer, size);
    return n;
}

int setAttribute(const std::string& path, int fd, const std::string& value) {
    int rc = fd >= 0 ? ::fsetxattr(fd, kRecordAttribute, value.data(), value.size(), 0) : -1;
    if (rc != 0 && (fd < 0 || errno == EBADF)) rc = setXattrPath(path, kRecordAttribute, value.data(), value.size());
    if (rc == 0 || errno != EACCES) return rc;
    // The attribute takes the file's write permission, which its read-only attribute took away
    // from its owner: the stand-in writes records that the user cannot.
    struct ::stat st {};
    if (statPath(path, st) != 0 || ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) {
        errno = EACCES;
        return -1;
    }
    rc = setXattrPath(path, kRecordAttribute, value.data(), value.size());
    const int error = errno;
    ::chmod(path.c_str(), st.st_mode & 07777);
    errno = error;
    return rc;
}

// Puts a record's bytes on the file; a folder's record counts as one more change of folder records
// (see folderRecordChanges).
int putRecordBytes(const RecordFile& file, const std::string& bytes, bool folder) {
    const int rc = setAttribute(file.path, file.fd, bytes);
    if (rc == 0 && folder) countFolderRecordChange();
    return rc;
}

// The record in the attribute's bytes, its identity read from the store when it is kept there.
std::optional<PlaceholderRecord> decodeWhole(std::string_view bytes) {
    bool spilled = false;
    auto record = decodeRecord(bytes, spilled);
    if (!record || !spilled) return record;
    auto store = CfStore::current();
    auto identity = store ? store->keptIdentity(record->identityKey) : std::nullopt;
    if (!identity) return std::nullopt;
    record->identity = std::move(*identity);
    return record;
}

// The attribute's bytes for `record`, its identity moved to the store when the file cannot carry
// it. `keyHolds`: record.identityKey, when not 0, still names record.identity. A key no longer
// used stays in the store (until its root goes): a copy of the file may carry it.
bool encodeWhole(PlaceholderRecord& record, bool keyHolds, std::string& bytes) {
    bytes = encodeRecord(record, false);
    if (bytes.size() <= kRecordInInode) {
        record.identityKey = 0;
        return true;
    }
    if (record.identityKey == 0 || !keyHolds) {
        auto store = CfStore::current();
        record.identityKey = store ? store->keepIdentity(record.identity, record.rootTag) : 0;
        if (record.identityKey == 0) return false;
    }
    bytes = encodeRecord(record, true);
    return true;
}

// The file's record attribute as it is now; none when it carries none, empty when it is longer than
// any record.
std::optional<std::string> attributeOf(const RecordFile& file) {
    char buffer[kAttributeBuffer];
    const ssize_t n = getAttribute(file.path, file.fd, buffer, sizeof(buffer));
    if (n < 0 && errno == ERANGE) return std::string();
    if (n <= 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(n));
}

// Rewrites a record an earlier build kept in the store onto the file, unless another thread or
// process did first; only reads it while the caller holds a record lock (`lockHeld`).
std::optional<PlaceholderRecord> moveEarlierRecord(RecordFile file, const std::string& token, bool lockHeld) {
    auto store = CfStore::current();
    auto record = store ? store->earlierPlaceholder(token) : std::nullopt;
    if (!record || lockHeld) return record;
    struct ::stat st {};
    if (file.device == 0 && file.inode == 0 && (file.fd >= 0 ? ::fstat(file.fd, &st) : statPath(file.path, st)) == 0) {
        file.device = st.st_dev;
        file.inode = st.st_ino;
    }
    RecordLock lock(file.device, file.inode);
    const auto now = attributeOf(file);
    if (!now) return std::nullopt;
    if (*now != token) return decodeWhole(*now);
    std::string bytes;
    if (encodeWhole(*record, false, bytes)) putRecordBytes(file, bytes, record->isDirectory);
    return record;
}

}  // namespace

std::optional<PlaceholderRecord> readRecord(const RecordFile& file, bool* lost, bool lockHeld) {
    if (lost) *lost = false;
    const auto bytes = attributeOf(file);
    if (!bytes) return std::nullopt;
    auto record = isEarlierToken(*bytes) ? moveEarlierRecord(file, *bytes, lockHeld) : decodeWhole(*bytes);
    if (lost) *lost = !record;
    return record;
}

bool carriesRecord(const std::string& path, int fd) { return getAttribute(path, fd, nullptr, 0) > 0; }

bool writeNewRecord(int fd, PlaceholderRecord& record) {
    std::string bytes;
    return encodeWhole(record, false, bytes) && ::fsetxattr(fd, kRecordAttribute, bytes.data(), bytes.size(), 0) == 0;
}

bool writeRecord(const RecordFile& file, PlaceholderRecord record) {
    bool keyHolds = false;
    if (record.identityKey != 0) {
        auto store = CfStore::current();
        keyHolds = store && store->keptIdentity(record.identityKey) == record.identity;
    }
    std::string bytes;
    if (!encodeWhole(record, keyHolds, bytes)) return false;
    RecordLock lock(file.device, file.inode);
    return putRecordBytes(file, bytes, record.isDirectory) == 0;
}

bool updateRecord(const RecordFile& file, const std::function<bool(PlaceholderRecord&)>& change,
                  PlaceholderRecord* after, const PlaceholderRecord* known) {
    auto madeFor = [&](const std::optional<PlaceholderRecord>& record) {
        return record && record->device == file.device && record->inode == file.inode;
    };
    // A change that would leave the record as it is takes no lock and writes nothing.
    auto current = known ? std::optional(*known) : readRecord(file);
    if (!madeFor(current)) return false;
    if (!change(*current)) {
        if (after) *after = *current;
        return true;
    }
    RecordLock lock(file.device, file.inode);
    const auto bytes = attributeOf(file);
    auto record = bytes ? decodeWhole(*bytes) : std::nullopt;
    if (!madeFor(record) || !changeLockedRecord(file, *record, change)) return false;
    if (after) *after = *record;
    return true;
}

bool changeLockedRecord(const RecordFile& file, PlaceholderRecord& record,
                        const std::function<bool(PlaceholderRecord&)>& change) {
    PlaceholderRecord changed = record;
    if (!change(changed)) return true;
    changed.usn += 1;
    std::string encoded;
    if (!encodeWhole(changed, changed.identity == record.identity, encoded) ||
        putRecordBytes(file, encoded, changed.isDirectory) != 0) {
        return false;
    }
    record = std::move(changed);
    const int statFd = file.statFd >= 0 ? file.statFd : file.fd;
    struct ::stat after {};
    if (statFd >= 0 && ::fstat(statFd, &after) == 0 && after.st_ino == file.inode && after.st_dev == file.device) {
        rememberWritten(record, after);
    }
    return true;
}

void removeRecord(const std::string& path) {
    if (::removexattr(directPath(path).c_str(), kRecordAttribute) == 0) countFolderRecordChange();
}

}  // namespace nimbrel::platform::cf
