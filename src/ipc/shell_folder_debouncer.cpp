#include "ipc/shell_folder_debouncer.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "ipc/shell_path.h"
#include "ipc/shell_refresh_clock.h"
#include "suite/logbridge/spdlog_bridge.h"

ShellFolderDebouncer::ShellFolderDebouncer(ShellRefreshClock& clock, Flush flush)
    : clock_(clock), flush_(std::move(flush)) {
    clock_.setJumpListener([this] { wake(); });
}

ShellFolderDebouncer::~ShellFolderDebouncer() {
    clock_.setJumpListener(nullptr);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wakeUp_.notify_all();
    if (flushThread_.joinable()) flushThread_.join();
}

int ShellFolderDebouncer::debounceFolderRefresh(const QString& folder, const QString& source) {
    std::call_once(started_, [this] { startFlushThread(); });
    const QString effectiveSource = source.isEmpty() ? QStringLiteral("unknown") : source;
    const long long now = clock_.nowMs();
    const QString key = shellPathKey(folder);
    int updateCount = 0;
    bool evicted = false;
    bool dueSooner = false;
    Entry oldest;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Entry& entry = entries_[key];
        if (entry.updateCount > 0) byAge_.erase(entry.age);
        entry.path = folder;
        entry.source = effectiveSource;
        entry.lastUpdateMs = now;
        updateCount = ++entry.updateCount;
        // The newest change goes last, unless the clock went back.
        entry.age = byAge_.emplace_hint(byAge_.end(), AgeKey{now, nextOrder_++}, key);
        // The flush thread sleeps until the earliest due time; only a change that is now the
        // earliest (nothing waited, or the clock went back) moves that time sooner.
        dueSooner = entry.age == byAge_.begin();
        if (entries_.size() > kMaxEntries) {
            auto first = byAge_.begin();
            auto found = entries_.find(first->second);
            oldest = std::move(found->second);
            entries_.erase(found);
            byAge_.erase(first);
            evicted = true;
        }
        woken_ = woken_ || dueSooner;
    }
    if (dueSooner) wakeUp_.notify_all();
    if (evicted) flushEntry(oldest);
    return updateCount;
}

std::size_t ShellFolderDebouncer::pendingCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

void ShellFolderDebouncer::startFlushThread() {
    flushThread_ = std::thread([this] { runFlushThread(); });
}

void ShellFolderDebouncer::wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    wakeUp_.notify_all();
}

void ShellFolderDebouncer::runFlushThread() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        std::vector<Entry> due;
        const long long now = clock_.nowMs();
        while (!byAge_.empty() && byAge_.begin()->first.first + kDelayMs <= now) {
            auto found = entries_.find(byAge_.begin()->second);
            due.push_back(std::move(found->second));
            entries_.erase(found);
            byAge_.erase(byAge_.begin());
        }
        if (!due.empty()) {
            lock.unlock();
            for (const Entry& entry : due) flushEntry(entry);
            lock.lock();
            continue;
        }
        woken_ = false;
        auto woken = [this] { return stopping_ || woken_; };
        if (byAge_.empty()) {
            wakeUp_.wait(lock, woken);
        } else {
            const long long waitMs = std::max(1LL, byAge_.begin()->first.first + kDelayMs - now);
            wakeUp_.wait_for(lock, std::chrono::milliseconds(waitMs), woken);
        }
    }
}

void ShellFolderDebouncer::flushEntry(const Entry& entry) const {
    if (entry.updateCount > 1) {
        LOG_INFO << "[ziduzudu-shell-refresh-coalesce] flush debounced ancestor shell refresh"
                 << " source:" << entry.source << " path:" << entry.path << " updateCount:" << entry.updateCount
                 << " delayMs:" << (clock_.nowMs() - entry.lastUpdateMs);
    }
    flush_(entry.path, entry.source);
}
