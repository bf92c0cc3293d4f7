#pragma once
// Debounces folder refreshes: each folder is refreshed once, a second after the last change under
// it, however many children changed in between. One flush thread, started on first use, sends the
// refreshes that fell due. At most 2048 folders wait; a change past that bound refreshes the
// folder that has waited longest at once, on the caller's thread, so that neither the map nor
// the flush thread's backlog grows with a flood.

#include <QString>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

class ShellRefreshClock;

class ShellFolderDebouncer {
public:
    // Sends the refresh of one folder; called outside the map's mutex.
    using Flush = std::function<void(const QString& folder, const QString& source)>;

    static constexpr long long kDelayMs = 1000;
    static constexpr std::size_t kMaxEntries = 2048;

    ShellFolderDebouncer(ShellRefreshClock& clock, Flush flush);
    ~ShellFolderDebouncer();
    ShellFolderDebouncer(const ShellFolderDebouncer&) = delete;
    ShellFolderDebouncer& operator=(const ShellFolderDebouncer&) = delete;

    // Records a change under `folder` and answers how many changes its pending refresh now covers.
    int debounceFolderRefresh(const QString& folder, const QString& source);

    std::size_t pendingCount() const;

private:
    using AgeKey = std::pair<long long, unsigned long long>;
    using AgeMap = std::map<AgeKey, QString>;
    struct Entry {
        QString path;
        QString source;
        long long lastUpdateMs = 0;
        int updateCount = 0;
        // The entry's place in byAge_ while it waits.
        AgeMap::iterator age;
    };

    void startFlushThread();
    void runFlushThread();
    void wake();
    void flushEntry(const Entry& entry) const;

    ShellRefreshClock& clock_;
    Flush flush_;
    mutable std::mutex mutex_;
    std::condition_variable wakeUp_;
    std::map<QString, Entry> entries_;
    // The same entries ordered by their last update, which also orders their due times.
    AgeMap byAge_;
    unsigned long long nextOrder_ = 0;
    bool woken_ = false;
    bool stopping_ = false;
    std::once_flag started_;
    std::thread flushThread_;
};
