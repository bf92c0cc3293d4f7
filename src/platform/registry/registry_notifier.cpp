#include "registry_notifier.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

namespace nimbrel::platform::registry {

namespace {

// How often changes made by other processes are looked for while a watch is armed.
constexpr std::chrono::milliseconds kPollInterval{20};

bool isBelow(const std::string& path, const std::string& ancestor) {
    return path.size() > ancestor.size() && path.compare(0, ancestor.size(), ancestor) == 0 &&
           path[ancestor.size()] == '\\';
}

struct Batch {
    std::vector<ChangeRecord> changes;
    long long oldestKept = 0;
    bool read = false;
};

}  // namespace

bool changeWakes(const Watch& watch, const ChangeRecord& change) {
    if (change.tree && (watch.path == change.path || isBelow(watch.path, change.path))) return true;
    if ((change.kind & watch.filter) == 0) return false;
    return change.path == watch.path || (watch.subtree && isBelow(change.path, watch.path));
}

RegistryNotifier& RegistryNotifier::instance() {
    static auto* notifier = new RegistryNotifier;  // its thread runs for the life of the process
    return *notifier;
}

void RegistryNotifier::add(Watch watch) {
    std::lock_guard lock(mutex_);
    watches_.push_back(std::move(watch));
    if (!started_) {
        std::thread([this] { run(); }).detach();
        started_ = true;
    }
    poked_ = true;
    wake_.notify_all();
}

void RegistryNotifier::keyClosed(const void* owner) {
    std::lock_guard lock(mutex_);
    for (auto it = watches_.begin(); it != watches_.end();) {
        if (it->owner == owner) {
            signal(*it);
            it = watches_.erase(it);
        } else {
            ++it;
        }
    }
}

void RegistryNotifier::poke() {
    std::lock_guard lock(mutex_);
    if (watches_.empty()) return;
    poked_ = true;
    wake_.notify_all();
}

void RegistryNotifier::signal(Watch& watch) { watch.event->set(); }

void RegistryNotifier::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !watches_.empty(); });
        poked_ = false;
        std::map<std::string, long long> since;
        for (const auto& watch : watches_) {
            auto [it, inserted] = since.emplace(watch.dbPath, watch.afterSeq);
            if (!inserted) it->second = std::min(it->second, watch.afterSeq);
        }
        lock.unlock();
        std::map<std::string, Batch> batches;
        for (const auto& [dbPath, seq] : since) {
            auto store = RegistryStore::at(dbPath);
            auto& batch = batches[dbPath];
            batch.read = store && store->changesSince(seq, batch.changes, batch.oldestKept) == ERROR_SUCCESS;
        }
        lock.lock();
        // Watches armed while the records were read saw the newest record then, so the batch
        // covers them too: every record after their mark is in it or still to come.
        for (auto it = watches_.begin(); it != watches_.end();) {
            auto found = batches.find(it->dbPath);
            if (found == batches.end() || !found->second.read) {
                ++it;
                continue;
            }
            const auto& batch = found->second;
            bool wakes = batch.oldestKept > it->afterSeq + 1;
            for (const auto& change : batch.changes) {
                if (wakes) break;
                wakes = change.seq > it->afterSeq && changeWakes(*it, change);
            }
            if (wakes) {
                signal(*it);
                it = watches_.erase(it);
                continue;
            }
            if (!batch.changes.empty()) it->afterSeq = std::max(it->afterSeq, batch.changes.back().seq);
            ++it;
        }
        wake_.wait_for(lock, kPollInterval, [this] { return poked_; });
    }
}

}  // namespace nimbrel::platform::registry
