#include "cf_dehydrate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "cf_connection.h"
#include "cf_errors.h"
#include "cf_filter_service.h"

namespace nimbrel::platform::cf {

namespace {

constexpr std::int64_t kBlock = 4096;

// Cancels the fetches of a placeholder's data and holds new ones off while it is dehydrated, in
// the process that serves them (the connected provider); elsewhere no fetch of this process can
// be on its way.
class DehydrationGuard {
public:
    explicit DehydrationGuard(const Item& item) : core_(filterCoreFor(item.root->path)), key_(fileKeyOf(*item.record)) {
        if (core_) core_->beginDehydration(key_);
    }
    ~DehydrationGuard() {
        if (core_) core_->endDehydration(key_);
    }
    DehydrationGuard(const DehydrationGuard&) = delete;
    DehydrationGuard& operator=(const DehydrationGuard&) = delete;

private:
    std::shared_ptr<FilterCore> core_;
    FileKey key_;
};

}  // namespace

HRESULT checkDehydration(const Item& item, CF_IN_SYNC_STATE inSyncAfter, bool alwaysFullAfter) {
    if (item.root->hydration.Primary == CF_HYDRATION_POLICY_ALWAYS_FULL) {
        return hrWin32(ERROR_CLOUD_FILE_NOT_SUPPORTED);
    }
    if (alwaysFullAfter) return hrWin32(ERROR_CLOUD_FILE_DEHYDRATION_DISALLOWED);
    if (item.record && item.record->pin == CF_PIN_STATE_PINNED) return hrWin32(ERROR_CLOUD_FILE_PINNED);
    if (inSyncAfter != CF_IN_SYNC_STATE_IN_SYNC) return hrWin32(ERROR_CLOUD_FILE_NOT_IN_SYNC);
    return S_OK;
}

HRESULT dehydrate(const Item& item, const std::vector<CF_FILE_RANGE>& ranges,
                  const std::function<void(PlaceholderRecord&)>& change) {
    std::optional<DehydrationGuard> guard(std::in_place, item);
    // A placeholder that had no block on the disk and claims no data (a new one) has nothing to
    // free once its fetches are cancelled: what a late transfer left is not claimed either.
    if (!change && !item.record->hydrated && item.st.st_blocks == 0) return S_OK;
    int fd = openForWriting(item.access);
    if (fd < 0) return hrFromErrno(errno);
    // The record says dehydrated before the first byte goes, so no reader takes a hole for data.
    std::optional<PlaceholderRecord> before;
    const RecordFile file = recordFileOf(item);
    const bool written = updateRecord(file, [&](PlaceholderRecord& record) {
        before = record;
        if (change) change(record);
        record.hydrated = false;
        return true;
    });
    if (!written) {
        ::close(fd);
        return E_FAIL;
    }
    const std::int64_t size = item.st.st_size;
    HRESULT result = S_OK;
    bool punched = false;
    auto punch = [&](std::int64_t offset, std::int64_t length) {
        if (FAILED(result) || offset >= size || length <= 0) return;
        // A range that reaches the end takes the last partial block too, which KEEP_SIZE allows.
        if (offset + length >= size) length = ((size + kBlock - 1) / kBlock) * kBlock - offset;
        if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, length) != 0) {
            result = hrFromErrno(errno);
        } else {
            punched = true;
        }
    };
    if (ranges.empty()) {
        punch(0, size);
    } else {
        for (const auto& range : ranges) {
            const std::int64_t offset = range.StartingOffset.QuadPart;
            punch(offset, range.Length.QuadPart == CF_EOF ? size - offset : range.Length.QuadPart);
        }
    }
    // Freeing space is no change of content: the file keeps its times.
    const struct timespec times[2] = {item.st.st_atim, item.st.st_mtim};
    ::futimens(fd, times);
    ::close(fd);
    // Dehydration is all or nothing: when no byte went, the placeholder is as it was. Once some did,
    // it stays dehydrated, and what is missing is fetched again like any dehydrated data.
    if (FAILED(result) && !punched) {
        updateRecord(file, [&](PlaceholderRecord& record) {
            record = *before;
            return true;
        });
    }
    // Readers through the filter mount must not go on with the pages their kernel still caches.
    // Fetches may start again first: telling the filter service can wait for a reader whose read
    // waits for a fetch, and pages dropped after new data arrived are only read again. A file that
    // had no data on the disk and was not hydrated (a new placeholder) has no pages to drop.
    guard.reset();
    if (punched && (item.st.st_blocks > 0 || before->hydrated)) filterServiceCommand("changed " + item.path);
    return result;
}

}  // namespace nimbrel::platform::cf
