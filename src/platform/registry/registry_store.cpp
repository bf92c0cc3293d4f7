#include "registry_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <map>

#include "platform/platform_paths.h"
#include "platform/win32_filetime.h"

namespace nimbrel::platform::registry {

namespace {

constexpr int kBusyTimeoutMs = 30000;
// Change records kept for watchers; a watcher that falls further behind is woken as if it had seen
// a matching change.
constexpr long long kChangesKept = 4096;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER NOT NULL,
    path TEXT NOT NULL UNIQUE,
    name TEXT NOT NULL,
    written INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS keys_by_parent ON keys(parent, path);
CREATE TABLE IF NOT EXISTS vals(
    key INTEGER NOT NULL,
    fold TEXT NOT NULL,
    name TEXT NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key, fold));
CREATE TABLE IF NOT EXISTS changes(
    seq INTEGER PRIMARY KEY AUTOINCREMENT,
    path TEXT NOT NULL,
    kind INTEGER NOT NULL,
    tree INTEGER NOT NULL);
INSERT OR IGNORE INTO keys(id, parent, path, name, written) VALUES
    (1, 0, 'HKEY_CLASSES_ROOT', 'HKEY_CLASSES_ROOT', 0),
    (2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER', 0),
    (3, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE', 0);
)sql";

// A statement of the connection's cache, prepared on its first use. A statement in use is out of
// the cache, so nested uses of the same text each get their own; it goes back reset when done.
class Statement {
public:
    Statement(sqlite3* db, StatementCache& cache, const char* sql) : cache_(cache), sql_(sql) {
        auto kept = cache_.find(sql_);
        if (kept != cache_.end()) {
            stmt_ = kept->second;
            cache_.erase(kept);
            ok_ = true;
        } else {
            ok_ = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) == SQLITE_OK;
        }
    }
    ~Statement() {
        if (!stmt_) return;
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
        if (!cache_.emplace(sql_, stmt_).second) sqlite3_finalize(stmt_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, long long value) {
        if (ok_) ok_ = sqlite3_bind_int64(stmt_, index, value) == SQLITE_OK;
        return *this;
    }
    Statement& bind(int index, const std::string& text) {
        if (ok_)
            ok_ = sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) ==
                  SQLITE_OK;
        return *this;
    }
    Statement& bindBlob(int index, const std::string& bytes) {
        if (ok_) {
            ok_ = sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT) ==
                  SQLITE_OK;
        }
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE, or an error.
    int step() { return ok_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    // Runs a statement that returns no row.
    bool run() { return step() == SQLITE_DONE; }

    long long integer(int column) { return sqlite3_column_int64(stmt_, column); }
    std::string text(int column) {
        auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
    }
    std::string blob(int column) {
        auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
        return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
    }

private:
    StatementCache& cache_;
    std::string sql_;
    sqlite3_stmt* stmt_ = nullptr;
    bool ok_ = false;
};

// A write transaction taken up front, so two writers queue on the busy time-out instead of failing
// when one of them upgrades a read lock.
class Transaction {
public:
    Transaction(sqlite3* db, StatementCache& cache, const char* begin = "BEGIN IMMEDIATE") : db_(db), cache_(cache) {
        active_ = Statement(db_, cache_, begin).run();
    }
    ~Transaction() {
        if (active_) Statement(db_, cache_, "ROLLBACK").run();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool active() const { return active_; }
    LONG commit() {
        if (!active_) return ERROR_REGISTRY_IO_FAILED;
        active_ = false;
        if (Statement(db_, cache_, "COMMIT").run()) return ERROR_SUCCESS;
        Statement(db_, cache_, "ROLLBACK").run();
        return ERROR_REGISTRY_IO_FAILED;
    }

private:
    sqlite3* db_;
    StatementCache& cache_;
    bool active_ = false;
};

std::string foldedPath(Root root, const std::vector<std::wstring>& levels) {
    return toUtf8(foldName(joinKeyPath(root, levels)));
}

std::string foldedValueName(const std::wstring& name) { return toUtf8(foldName(name)); }

// Everything strictly below `folded` lies in [folded + "\", folded + "]"), as "]" follows "\".
std::string subtreeLow(const std::string& folded) { return folded + "\\"; }
std::string subtreeHigh(const std::string& folded) { return folded + "]"; }

std::string parentPath(const std::string& folded) { return folded.substr(0, folded.rfind('\\')); }

struct Cache {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<RegistryStore>> stores;
};

Cache& cache() {
    static auto* instance = new Cache;  // outlives static destructors of threads still using it
    return *instance;
}

}  // namespace

std::shared_ptr<RegistryStore> RegistryStore::current() { return at(platformHome() + "/registry.db"); }

std::shared_ptr<RegistryStore> RegistryStore::at(const std::string& dbPath) {
    auto& c = cache();
    std::lock_guard lock(c.mutex);
    auto it = c.stores.find(dbPath);
    if (it != c.stores.end() && it->second->stillCurrent()) return it->second;
    std::shared_ptr<RegistryStore> store;
    if (open(dbPath, store) != ERROR_SUCCESS) return nullptr;
    c.stores[dbPath] = store;
    return store;
}

LONG RegistryStore::open(const std::string& path, std::shared_ptr<RegistryStore>& store) {
    sqlite3* db = nullptr;
    createPrivateFile(path);
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    struct stat info {};
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK || ::stat(path.c_str(), &info) != 0) {
        sqlite3_close(db);
        return ERROR_REGISTRY_IO_FAILED;
    }
    std::shared_ptr<RegistryStore> opened(new RegistryStore(path, db, info.st_dev, info.st_ino));
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr) !=
        SQLITE_OK) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    Transaction transaction(db, opened->statements_);
    if (!transaction.active() || sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
        transaction.commit() != ERROR_SUCCESS) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    store = std::move(opened);
    return ERROR_SUCCESS;
}

RegistryStore::RegistryStore(std::string path, sqlite3* db, dev_t device, ino_t inode)
    : path_(std::move(path)), db_(db), device_(device), inode_(inode) {}

RegistryStore::~RegistryStore() {
    for (const auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    sqlite3_close(db_);
}

bool RegistryStore::stillCurrent() const {
    struct stat info {};
    return ::stat(path_.c_str(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_;
}

LONG RegistryStore::keyPathOf(long long id, std::string& folded, long long& parent) {
    Statement select(db_, statements_, "SELECT path, parent FROM keys WHERE id = ?");
    int rc = select.bind(1, id).step();
    if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
    folded = select.text(0);
    parent = select.integer(1);
    return ERROR_SUCCESS;
}

LONG RegistryStore::recordChange(const std::string& foldedPath, DWORD kind, bool tree) {
    Statement insert(db_, statements_, "INSERT INTO changes(path, kind, tree) VALUES(?, ?, ?)");
    if (!insert.bind(1, foldedPath).bind(2, kind).bind(3, tree ? 1 : 0).run()) return ERROR_REGISTRY_IO_FAILED;
    auto seq = sqlite3_last_insert_rowid(db_);
    if (seq % 256 == 0) {
        Statement prune(db_, statements_, "DELETE FROM changes WHERE seq <= ?");
        if (!prune.bind(1, seq - kChangesKept).run()) return ERROR_REGISTRY_IO_FAILED;
    }
    return ERROR_SUCCESS;
}

LONG RegistryStore::touchKey(long long id) {
    Statement update(db_, statements_, "UPDATE keys SET written = ? WHERE id = ?");
    return update.bind(1, static_cast<long long>(fileTimeNow())).bind(2, id).run() ? ERROR_SUCCESS
                                                                                   : ERROR_REGISTRY_IO_FAILED;
}

LONG RegistryStore::findKey(Root root, const std::vector<std::wstring>& levels, long long& id) {
    std::lock_guard lock(mutex_);
    Statement select(db_, statements_, "SELECT id FROM keys WHERE path = ?");
    int rc = select.bind(1, foldedPath(root, levels)).step();
    if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
    id = select.integer(0);
    return ERROR_SUCCESS;
}

LONG RegistryStore::createKey(Root root, const std::vector<std::wstring>& levels, long long& id, bool& created) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_, statements_);
    if (!transaction.active()) return ERROR_REGISTRY_IO_FAILED;
    id = rootId(root);
    created = false;
    std::vector<std::wstring> prefix;
    std::string parentFolded = foldedPath(root, prefix);
    for (const auto& level : levels) {
        prefix.push_back(level);
        auto folded = foldedPath(root, prefix);
        Statement select(db_, statements_, "SELECT id FROM keys WHERE path = ?");
        int rc = select.bind(1, folded).step();
        if (rc == SQLITE_ROW) {
            id = select.integer(0);
            created = false;
        } else if (rc == SQLITE_DONE) {
            auto now = static_cast<long long>(fileTimeNow());
            Statement insert(db_, statements_, "INSERT INTO keys(parent, path, name, written) VALUES(?, ?, ?, ?)");
            if (!insert.bind(1, id).bind(2, folded).bind(3, toUtf8(level)).bind(4, now).run()) {
                return ERROR_REGISTRY_IO_FAILED;
            }
            long long parent = id;
            id = sqlite3_last_insert_rowid(db_);
            created = true;
            LONG status = touchKey(parent);
            if (status == ERROR_SUCCESS) status = recordChange(parentFolded, REG_NOTIFY_CHANGE_NAME, false);
            if (status != ERROR_SUCCESS) return status;
        } else {
            return ERROR_REGISTRY_IO_FAILED;
        }
        parentFolded = folded;
    }
    return transaction.commit();
}

LONG RegistryStore::checkKey(long long id) {
    std::lock_guard lock(mutex_);
    std::string folded;
    long long parent = 0;
    return keyPathOf(id, folded, parent);
}

LONG RegistryStore::setValue(long long key, const std::wstring& name, DWORD type, const std::string& bytes) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_, statements_);
    if (!transaction.active()) return ERROR_REGISTRY_IO_FAILED;
    std::string folded;
    long long parent = 0;
    if (LONG status = keyPathOf(key, folded, parent); status != ERROR_SUCCESS) return status;
    // An existing value keeps its place in the enumeration and the spelling of its name.
    Statement upsert(db_, statements_,
                     "INSERT INTO vals(key, fold, name, type, data) VALUES(?, ?, ?, ?, ?) "
                     "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
    if (!upsert.bind(1, key)
             .bind(2, foldedValueName(name))
             .bind(3, toUtf8(name))
             .bind(4, type)
             .bindBlob(5, bytes)
             .run()) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    LONG status = touchKey(key);
    if (status == ERROR_SUCCESS) status = recordChange(folded, REG_NOTIFY_CHANGE_LAST_SET, false);
    return status == ERROR_SUCCESS ? transaction.commit() : status;
}

LONG RegistryStore::queryValue(long long key, const std::wstring& name, ValueRecord& value) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_, statements_, "BEGIN");
    Statement select(db_, statements_, "SELECT name, type, data FROM vals WHERE key = ? AND fold = ?");
    int rc = select.bind(1, key).bind(2, foldedValueName(name)).step();
    if (rc == SQLITE_ROW) {
        value.name = fromUtf8(select.text(0));
        value.type = static_cast<DWORD>(select.integer(1));
        value.bytes = select.blob(2);
        return ERROR_SUCCESS;
    }
    if (rc != SQLITE_DONE) return ERROR_REGISTRY_IO_FAILED;
    std::string folded;
    long long parent = 0;
    LONG status = keyPathOf(key, folded, parent);
    return status == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : status;
}

LONG RegistryStore::deleteValue(long long key, const std::wstring& name) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_, statements_);
    if (!transaction.active()) return ERROR_REGISTRY_IO_FAILED;
    std::string folded;
    long long parent = 0;
    if (LONG status = keyPathOf(key, folded, parent); status != ERROR_SUCCESS) return status;
    Statement remove(db_, statements_, "DELETE FROM vals WHERE key = ? AND fold = ?");
    if (!remove.bind(1, key).bind(2, foldedValueName(name)).run()) return ERROR_REGISTRY_IO_FAILED;
    if (sqlite3_changes(db_) == 0) return ERROR_FILE_NOT_FOUND;
    LONG status = touchKey(key);
    if (status == ERROR_SUCCESS) status = recordChange(folded, REG_NOTIFY_CHANGE_LAST_SET, false);
    return status == ERROR_SUCCESS ? transaction.commit() : status;
}

LONG RegistryStore::subKeyAt(long long key, DWORD index, std::wstring& name, ULONGLONG& lastWrite) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_, statements_, "BEGIN");
    std::string folded;
    long long parent = 0;
    if (LONG status = keyPathOf(key, folded, parent); status != ERROR_SUCCESS) return status;
    Statement select(db_, statements_,
                     "SELECT name, written FROM keys WHERE parent = ? ORDER BY path LIMIT 1 OFFSET ?");
    int rc = select.bind(1, key).bind(2, index).step();
    if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
    name = fromUtf8(select.text(0));
    lastWrite = static_cast<ULONGLONG>(select.integer(1));
    return ERROR_SUCCESS;
}

LONG RegistryStore::valueAt(long long key, DWORD index, ValueRecord& value) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_, statements_, "BEGIN");
    std::string folded;
    long long parent = 0;
    if (LONG status = keyPathOf(key, folded, parent); status != ERROR_SUCCESS) return status;
    Statement select(db_, statements_,
                     "SELECT name, type, data FROM vals WHERE key = ? ORDER BY rowid LIMIT 1 OFFSET ?");
    int rc = select.bind(1, key).bind(2, index).step();
    if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
    value.name = fromUtf8(select.text(0));
    value.type = static_cast<DWORD>(select.integer(1));
    value.bytes = select.blob(2);
    return ERROR_SUCCESS;
}

LONG RegistryStore::keyInfo(long long key, KeyInfoRecord& info) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_, statements_, "BEGIN");
    Statement self(db_, statements_, "SELECT written FROM keys WHERE id = ?");
    int rc = self.bind(1, key).step();
    if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
    info.lastWrite = static_cast<ULONGLONG>(self.integer(0));
    Statement keys(db_, statements_, "SELECT count(*), coalesce(max(length(name)), 0) FROM keys WHERE parent = ?");
    if (keys.bind(1, key).step() != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
    info.subKeys = static_cast<DWORD>(keys.integer(0));
    info.maxSubKeyChars = static_cast<DWORD>(keys.integer(1));
    // Text is stored as UTF-16 and handed out as wchar_t, at most twice its stored size.
    Statement values(db_, statements_,
                     "SELECT count(*), coalesce(max(length(name)), 0), "
                     "coalesce(max(CASE WHEN type IN (1, 2, 7) THEN length(data) * 2 ELSE length(data) END), 0) "
                     "FROM vals WHERE key = ?");
    if (values.bind(1, key).step() != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
    info.values = static_cast<DWORD>(values.integer(0));
    info.maxValueNameChars = static_cast<DWORD>(values.integer(1));
    info.maxValueBytes = static_cast<DWORD>(values.integer(2));
    return ERROR_SUCCESS;
}

LONG RegistryStore::deleteKey(long long key) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_, statements_);
    if (!transaction.active()) return ERROR_REGISTRY_IO_FAILED;
    std::string folded;
    long long parent = 0;
    if (LONG status = keyPathOf(key, folded, parent); status != ERROR_SUCCESS) return status;
    if (parent == 0) return ERROR_ACCESS_DENIED;
    Statement children(db_, statements_, "SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
    int rc = children.bind(1, key).step();
    if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
    if (rc != SQLITE_DONE) return ERROR_REGISTRY_IO_FAILED;
    Statement values(db_, statements_, "DELETE FROM vals WHERE key = ?");
    Statement self(db_, statements_, "DELETE FROM keys WHERE id = ?");
    if (!values.bind(1, key).run() || !self.bind(1, key).run()) return ERROR_REGISTRY_IO_FAILED;
    LONG status = touchKey(parent);
    if (status == ERROR_SUCCESS) status = recordChange(parentPath(folded), REG_NOTIFY_CHANGE_NAME, false);
    if (status == ERROR_SUCCESS) status = recordChange(folded, REG_NOTIFY_CHANGE_NAME, true);
    return status == ERROR_SUCCESS ? transaction.commit() : status;
}

LONG RegistryStore::deleteBelow(const std::string& folded) {
    Statement values(db_, statements_,
                     "DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE path >= ? AND path < ?)");
    Statement keys(db_, statements_, "DELETE FROM keys WHERE path >= ? AND path < ?");
    bool ok = values.bind(1, subtreeLow(folded)).bind(2, subtreeHigh(folded)).run() &&
              keys.bind(1, subtreeLow(folded)).bind(2, subtreeHigh(folded)).run();
    return ok ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
}

LONG RegistryStore::deleteTree(long long key, bool keepKey) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_, statements_);
    if (!transaction.active()) return ERROR_REGISTRY_IO_FAILED;
    std::string folded;
    long long parent = 0;
    if (LONG status = keyPathOf(key, folded, parent); status != ERROR_SUCCESS) return status;
    if (!keepKey && parent == 0) return ERROR_ACCESS_DENIED;

    // Watchers of every direct sub-key (and of anything below it) learn that their key is gone.
    Statement children(db_, statements_, "SELECT path FROM keys WHERE parent = ?");
    std::vector<std::string> childPaths;
    children.bind(1, key);
    int rc;
    while ((rc = children.step()) == SQLITE_ROW) childPaths.push_back(children.text(0));
    if (rc != SQLITE_DONE) return ERROR_REGISTRY_IO_FAILED;

    Statement values(db_, statements_, "DELETE FROM vals WHERE key = ?");
    if (!values.bind(1, key).run()) return ERROR_REGISTRY_IO_FAILED;
    bool hadValues = sqlite3_changes(db_) > 0;
    if (LONG status = deleteBelow(folded); status != ERROR_SUCCESS) return status;

    LONG status = ERROR_SUCCESS;
    if (keepKey) {
        for (const auto& child : childPaths) {
            if (status == ERROR_SUCCESS) status = recordChange(child, REG_NOTIFY_CHANGE_NAME, true);
        }
        if (status == ERROR_SUCCESS && !childPaths.empty())
            status = recordChange(folded, REG_NOTIFY_CHANGE_NAME, false);
        if (status == ERROR_SUCCESS && hadValues) status = recordChange(folded, REG_NOTIFY_CHANGE_LAST_SET, false);
        if (status == ERROR_SUCCESS && (hadValues || !childPaths.empty())) status = touchKey(key);
    } else {
        Statement self(db_, statements_, "DELETE FROM keys WHERE id = ?");
        if (!self.bind(1, key).run()) return ERROR_REGISTRY_IO_FAILED;
        status = touchKey(parent);
        if (status == ERROR_SUCCESS) status = recordChange(parentPath(folded), REG_NOTIFY_CHANGE_NAME, false);
        if (status == ERROR_SUCCESS) status = recordChange(folded, REG_NOTIFY_CHANGE_NAME, true);
    }
    return status == ERROR_SUCCESS ? transaction.commit() : status;
}

LONG RegistryStore::checkpoint() {
    std::lock_guard lock(mutex_);
    return sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) == SQLITE_OK
               ? ERROR_SUCCESS
               : ERROR_REGISTRY_IO_FAILED;
}

LONG RegistryStore::lastChange(long long& seq) {
    std::lock_guard lock(mutex_);
    Statement select(db_, statements_, "SELECT coalesce(max(seq), 0) FROM changes");
    if (select.step() != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
    seq = select.integer(0);
    return ERROR_SUCCESS;
}

LONG RegistryStore::changesSince(long long seq, std::vector<ChangeRecord>& changes, long long& oldestKept) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_, statements_, "BEGIN");
    changes.clear();
    Statement oldest(db_, statements_, "SELECT coalesce(min(seq), 0) FROM changes");
    if (oldest.step() != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
    oldestKept = oldest.integer(0);
    Statement select(db_, statements_, "SELECT seq, path, kind, tree FROM changes WHERE seq > ? ORDER BY seq");
    select.bind(1, seq);
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
        changes.push_back(
            {select.integer(0), select.text(1), static_cast<DWORD>(select.integer(2)), select.integer(3) != 0});
    }
    return rc == SQLITE_DONE ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
}

}  // namespace nimbrel::platform::registry
