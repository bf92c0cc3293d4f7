#pragma once
// Remembers, for a minute, every pushFileAdd that was projected successfully, so that the client's
// bursts of re-pushed unchanged items are answered without touching the Cloud Files API. Bounded
// to 8192 entries; one per process, behind its own mutex.

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

// What the guard compares: the pushed fields, with the times after normalisation.
struct MirrorPushState {
    std::string id;
    std::int64_t size = 0;
    std::int32_t type = 0;
    std::int32_t isVirtual = 0;
    std::int32_t status = 0;
    bool inUpQueue = false;
    std::int64_t creationTime = 0;
    std::int64_t modificationTime = 0;
    std::int64_t accessTime = 0;

    bool operator==(const MirrorPushState& other) const;
};

struct MirrorDedupHit {
    bool isDuplicate = false;
    std::uint64_t ageMs = 0;
    std::uint32_t suppressedCount = 0;
};

class MirrorDedupGuard {
public:
    static constexpr std::uint64_t kMaxAgeMs = 60000;
    static constexpr std::size_t kMaxEntries = 8192;

    static MirrorDedupGuard& instance();
    // `nowMs` answers milliseconds since the epoch.
    explicit MirrorDedupGuard(std::function<std::uint64_t()> nowMs);

    // A hit counts one more suppression but keeps the entry's time, so an unchanged item is
    // projected again at the latest a minute after its last real projection.
    MirrorDedupHit lookup(const QString& path, const MirrorPushState& state);
    // Keeps only successful projections of a real path.
    void record(const QString& path, const MirrorPushState& state, int result);
    // Forgets the given paths; answers how many entries went.
    std::size_t invalidate(const std::vector<QString>& paths);
    std::size_t size() const;

    // Cleaned, "/" separators, lower case: every spelling of one path is one key.
    static QString keyFor(const QString& path);

private:
    struct Entry {
        std::uint64_t recordedMs = 0;
        MirrorPushState state;
        int result = 0;
        std::uint32_t suppressedCount = 0;
    };

    void prune(std::uint64_t now);
    void erase(std::map<QString, Entry>::iterator entry);

    std::function<std::uint64_t()> nowMs_;
    mutable std::mutex mutex_;
    std::map<QString, Entry> entries_;
    // The same entries ordered by time, so that pruning the old ones costs only what it removes.
    std::set<std::pair<std::uint64_t, QString>> byTime_;
};
