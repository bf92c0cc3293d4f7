#include "cf_folder_records.h"

#include <array>

namespace nimbrel::platform::cf {

namespace {

struct Kept {
    std::uint32_t deviceMajor = 0;
    std::uint32_t deviceMinor = 0;
    std::uint64_t inode = 0;
    struct statx_timestamp born {};
    std::uint64_t changes = 0;
    std::optional<PlaceholderRecord> record;
};

constexpr std::size_t kKept = 16;

struct ThreadKept {
    std::array<Kept, kKept> folders;
    std::size_t next = 0;
};

ThreadKept& kept() {
    thread_local ThreadKept instance;
    return instance;
}

bool sameFolder(const Kept& kept, const struct ::statx& folder) {
    return kept.inode == folder.stx_ino && kept.deviceMajor == folder.stx_dev_major &&
           kept.deviceMinor == folder.stx_dev_minor && kept.born.tv_sec == folder.stx_btime.tv_sec &&
           kept.born.tv_nsec == folder.stx_btime.tv_nsec;
}

}  // namespace

std::optional<PlaceholderRecord> keptFolderRecord(const struct ::statx& folder, std::uint64_t changes) {
    if (!(folder.stx_mask & STATX_BTIME)) return std::nullopt;
    for (const Kept& entry : kept().folders) {
        if (entry.record && entry.changes == changes && sameFolder(entry, folder)) return entry.record;
    }
    return std::nullopt;
}

void keepFolderRecord(const struct ::statx& folder, std::uint64_t changes, const PlaceholderRecord& record) {
    if (!(folder.stx_mask & STATX_BTIME)) return;
    ThreadKept& thread = kept();
    Kept* slot = nullptr;
    for (Kept& entry : thread.folders) {
        if (entry.record && sameFolder(entry, folder)) slot = &entry;
    }
    if (!slot) slot = &thread.folders[thread.next++ % kKept];
    *slot = Kept{folder.stx_dev_major, folder.stx_dev_minor, folder.stx_ino, folder.stx_btime, changes, record};
}

}  // namespace nimbrel::platform::cf
