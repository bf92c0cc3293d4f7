#pragma once
// RegNotifyChangeKeyValue across processes. Every write to the registry appends change records to
// the database in the same transaction as the write (registry_store.h), so a record exists exactly
// when its change is visible. A watch remembers the newest record at the time it was armed; one
// notifier thread per process reads the records after that point for each database that has
// watches (at once when this process wrote, otherwise every few milliseconds) and signals each
// watch whose key, subtree and filter a record matches. Nothing is lost between two reads, however
// late the thread runs, because the records stay in the database; records too old to be kept wake
// their watchers rather than leave them asleep.

#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "registry_event.h"
#include "registry_store.h"

namespace nimbrel::platform::registry {

struct Watch {
    std::string dbPath;
    long long afterSeq = 0;  // the newest change record when the watch was armed
    std::string path;        // folded path of the watched key
    bool subtree = false;
    DWORD filter = 0;
    const void* owner = nullptr;  // the key object the watch belongs to; null for a predefined root
    std::shared_ptr<EventObject> event;
};

// Whether a change record wakes a watch: a change of a kind in the filter to the watched key or,
// for a subtree watch, below it; or the deletion of the watched key or of a key above it.
bool changeWakes(const Watch& watch, const ChangeRecord& change);

class RegistryNotifier {
public:
    static RegistryNotifier& instance();

    void add(Watch watch);
    // Signals and drops the watches of a key whose handle is being closed.
    void keyClosed(const void* owner);
    // Tells the thread that this process has just written, so local watchers wake without delay.
    void poke();

private:
    RegistryNotifier() = default;
    void run();
    static void signal(Watch& watch);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::list<Watch> watches_;
    bool started_ = false;
    bool poked_ = false;
};

}  // namespace nimbrel::platform::registry
