#pragma once
// The registry's storage: one SQLite database (WAL, busy time-out) below the platform home, shared by
// every process and thread. Keys are rows with a never-reused id (so a handle to a deleted key stays
// deleted even when a key of the same name is created again) and their full path in folded form,
// which makes a whole subtree one range of that column. Values keep their bytes as Windows stores
// them. Every write also appends change records in the same transaction; watchers read those.

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win_registry.h"
#include "registry_path.h"

struct sqlite3;
struct sqlite3_stmt;

namespace nimbrel::platform::registry {

// Prepared statements by their text.
using StatementCache = std::map<std::string, sqlite3_stmt*>;

struct ValueRecord {
    std::wstring name;
    DWORD type = REG_NONE;
    std::string bytes;  // as stored: text types in UTF-16LE
};

struct KeyInfoRecord {
    DWORD subKeys = 0;
    DWORD maxSubKeyChars = 0;
    DWORD values = 0;
    DWORD maxValueNameChars = 0;
    DWORD maxValueBytes = 0;  // as stored
    ULONGLONG lastWrite = 0;  // FILETIME ticks
};

// One entry of the change log. `path` is the folded path of the key that changed (or whose direct
// sub-keys changed); `tree` marks the deletion of that key with everything below it.
struct ChangeRecord {
    long long seq = 0;
    std::string path;  // UTF-8
    DWORD kind = 0;
    bool tree = false;
};

class RegistryStore {
public:
    // The database of the current platform home. The home is looked up at every call; a database
    // file that was removed or replaced since it was opened is opened afresh.
    static std::shared_ptr<RegistryStore> current();
    static std::shared_ptr<RegistryStore> at(const std::string& dbPath);
    static long long rootId(Root root) { return static_cast<long long>(root) + 1; }

    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    const std::string& path() const { return path_; }

    LONG findKey(Root root, const std::vector<std::wstring>& levels, long long& id);
    // Creates the missing levels; `created` tells whether the last level is new.
    LONG createKey(Root root, const std::vector<std::wstring>& levels, long long& id, bool& created);
    // ERROR_KEY_DELETED once the key is gone.
    LONG checkKey(long long id);

    LONG setValue(long long key, const std::wstring& name, DWORD type, const std::string& bytes);
    LONG queryValue(long long key, const std::wstring& name, ValueRecord& value);
    LONG deleteValue(long long key, const std::wstring& name);

    LONG subKeyAt(long long key, DWORD index, std::wstring& name, ULONGLONG& lastWrite);
    LONG valueAt(long long key, DWORD index, ValueRecord& value);
    LONG keyInfo(long long key, KeyInfoRecord& info);

    // ERROR_ACCESS_DENIED while the key has sub-keys, as on Windows; roots cannot be deleted.
    LONG deleteKey(long long key);
    // Deletes every value and sub-key of the key, and the key itself unless `keepKey`.
    LONG deleteTree(long long key, bool keepKey);
    LONG checkpoint();

    // The sequence number of the newest change record (0 when none).
    LONG lastChange(long long& seq);
    // The change records after `seq`, and the oldest record still kept: a reader that last saw a
    // record before oldestKept - 1 has missed some.
    LONG changesSince(long long seq, std::vector<ChangeRecord>& changes, long long& oldestKept);

private:
    RegistryStore(std::string path, sqlite3* db, dev_t device, ino_t inode);
    static LONG open(const std::string& path, std::shared_ptr<RegistryStore>& store);
    bool stillCurrent() const;
    LONG keyPathOf(long long id, std::string& folded, long long& parent);
    LONG recordChange(const std::string& foldedPath, DWORD kind, bool tree);
    LONG touchKey(long long id);
    LONG deleteBelow(const std::string& folded);

    std::mutex mutex_;
    std::string path_;
    sqlite3* db_ = nullptr;
    // Kept for the connection's life: preparing costs more than running most of the statements.
    StatementCache statements_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace nimbrel::platform::registry
