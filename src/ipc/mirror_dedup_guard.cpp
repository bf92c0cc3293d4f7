#include "ipc/mirror_dedup_guard.h"

#include <chrono>

#include "suite/base/winpath.h"

bool MirrorPushState::operator==(const MirrorPushState& other) const {
    return id == other.id && size == other.size && type == other.type && isVirtual == other.isVirtual &&
           status == other.status && inUpQueue == other.inUpQueue && creationTime == other.creationTime &&
           modificationTime == other.modificationTime && accessTime == other.accessTime;
}

MirrorDedupGuard& MirrorDedupGuard::instance() {
    static MirrorDedupGuard* guard = new MirrorDedupGuard([] {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count());
    });
    return *guard;
}

MirrorDedupGuard::MirrorDedupGuard(std::function<std::uint64_t()> nowMs) : nowMs_(std::move(nowMs)) {}

QString MirrorDedupGuard::keyFor(const QString& path) { return winpath::cleanPath(path).toLower(); }

void MirrorDedupGuard::erase(std::map<QString, Entry>::iterator entry) {
    byTime_.erase({entry->second.recordedMs, entry->first});
    entries_.erase(entry);
}

void MirrorDedupGuard::prune(std::uint64_t now) {
    while (!byTime_.empty() && now - byTime_.begin()->first > kMaxAgeMs) erase(entries_.find(byTime_.begin()->second));
    while (entries_.size() > kMaxEntries) erase(entries_.begin());
}

MirrorDedupHit MirrorDedupGuard::lookup(const QString& path, const MirrorPushState& state) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t now = nowMs_();
    prune(now);
    auto found = entries_.find(keyFor(path));
    if (found == entries_.end() || found->second.result != 0 || !(found->second.state == state)) return {};
    Entry& entry = found->second;
    ++entry.suppressedCount;
    return {true, now - entry.recordedMs, entry.suppressedCount};
}

void MirrorDedupGuard::record(const QString& path, const MirrorPushState& state, int result) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t now = nowMs_();
    prune(now);
    if (path.isEmpty() || result != 0) return;
    const QString key = keyFor(path);
    auto found = entries_.find(key);
    if (found != entries_.end()) erase(found);
    entries_.emplace(key, Entry{now, state, result, 0});
    byTime_.emplace(now, key);
}

std::size_t MirrorDedupGuard::invalidate(const std::vector<QString>& paths) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t removed = 0;
    for (const QString& path : paths) {
        auto found = entries_.find(keyFor(path));
        if (found == entries_.end()) continue;
        erase(found);
        ++removed;
    }
    return removed;
}

std::size_t MirrorDedupGuard::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}
