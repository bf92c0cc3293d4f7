#include "cf_store.h"

#include <sqlite3.h>

#include <cstring>
#include <fstream>

#include "platform/platform_paths.h"

namespace nimbrel::platform::cf {

namespace {

// Placeholder records live in one b-tree keyed by their token: a new record or a changed one writes
// one page. Tokens begin with the time they were made (see newToken), so new records land on the
// last page, which stays in the cache. Nothing needs the records of one root fast: only removeRoot
// looks for them, and it may read the whole table.
constexpr const char* kPlaceholderTable =
    " (token TEXT PRIMARY KEY, root TEXT, device INTEGER, inode INTEGER, identity BLOB, pin INTEGER,"
    " in_sync INTEGER, hydrated INTEGER, is_dir INTEGER, always_full INTEGER, creation_time INTEGER,"
    " usn INTEGER) WITHOUT ROWID;";

const std::string kSchema =
    std::string(
        "CREATE TABLE IF NOT EXISTS roots ("
        " path TEXT PRIMARY KEY, provider_name TEXT, provider_version TEXT, identity BLOB, provider_id BLOB,"
        " hydration_primary INTEGER, hydration_modifier INTEGER, population_primary INTEGER,"
        " population_modifier INTEGER, insync_policy INTEGER, hardlink_policy INTEGER,"
        " management_policy INTEGER);"
        "CREATE TABLE IF NOT EXISTS placeholders") +
    kPlaceholderTable;

// A store made by an earlier build keeps its records in a table with row ids, an index of their
// tokens and one of their roots. They move into the keyed table in one transaction, which the
// first process of this build to open the store makes; the others find the work done.
const std::string kMoveToKeyedTable = std::string("CREATE TABLE placeholders_keyed") + kPlaceholderTable +
                                      "INSERT INTO placeholders_keyed SELECT token, root, device, inode, identity,"
                                      " pin, in_sync, hydrated, is_dir, always_full, creation_time, usn"
                                      " FROM placeholders;"
                                      "DROP TABLE placeholders;"
                                      "ALTER TABLE placeholders_keyed RENAME TO placeholders;";

constexpr const char* kHasRowIdTable =
    "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'placeholders' AND sql NOT LIKE '%WITHOUT ROWID%'";

}  // namespace

// A statement of the store, prepared on its first use and kept for the next ones: parsing the
// SQL again for every query cost more than running it. One that is already lent out (a nested
// use of the same text) is prepared afresh and finalized after its use.
class Statement {
public:
    Statement(CfStore& store, const std::string& sql) {
        auto& prepared = store.prepared_[sql];
        if (!prepared.stmt && sqlite3_prepare_v3(store.db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &prepared.stmt,
                                                 nullptr) != SQLITE_OK) {
            sqlite3_finalize(prepared.stmt);
            prepared.stmt = nullptr;
            return;
        }
        if (prepared.lent) {
            sqlite3_prepare_v2(store.db_, sql.c_str(), -1, &stmt_, nullptr);
            return;
        }
        prepared.lent = true;
        lent_ = &prepared;
        stmt_ = prepared.stmt;
    }
    ~Statement() {
        if (!lent_) {
            sqlite3_finalize(stmt_);
            return;
        }
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
        lent_->lent = false;
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    void bind(int index, const std::string& text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void bindBlob(int index, const void* data, std::size_t size) {
        sqlite3_bind_blob(stmt_, index, size ? data : "", static_cast<int>(size), SQLITE_TRANSIENT);
    }
    void bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
    int step() { return sqlite3_step(stmt_); }
    std::string text(int column) const {
        auto* data = sqlite3_column_text(stmt_, column);
        return data ? std::string(reinterpret_cast<const char*>(data), sqlite3_column_bytes(stmt_, column)) : "";
    }
    std::string blob(int column) const {
        auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
        return data ? std::string(data, sqlite3_column_bytes(stmt_, column)) : "";
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }

private:
    sqlite3_stmt* stmt_ = nullptr;
    CfStore::Prepared* lent_ = nullptr;
};

namespace {

constexpr const char* kRootColumns =
    "path, provider_name, provider_version, identity, provider_id, hydration_primary, hydration_modifier,"
    " population_primary, population_modifier, insync_policy, hardlink_policy, management_policy";

SyncRootRecord readRoot(const Statement& s) {
    SyncRootRecord r;
    r.path = s.text(0);
    r.providerName = fromUtf8(s.text(1));
    r.providerVersion = fromUtf8(s.text(2));
    r.identity = s.blob(3);
    auto id = s.blob(4);
    if (id.size() == sizeof(GUID)) std::memcpy(&r.providerId, id.data(), sizeof(GUID));
    r.hydration.Primary = static_cast<CF_HYDRATION_POLICY_PRIMARY>(s.integer(5));
    r.hydration.Modifier = static_cast<CF_HYDRATION_POLICY_MODIFIER>(s.integer(6));
    r.population.Primary = static_cast<CF_POPULATION_POLICY_PRIMARY>(s.integer(7));
    r.population.Modifier = static_cast<CF_POPULATION_POLICY_MODIFIER>(s.integer(8));
    r.inSync = static_cast<CF_INSYNC_POLICY>(s.integer(9));
    r.hardLink = static_cast<CF_HARDLINK_POLICY>(s.integer(10));
    r.management = static_cast<CF_PLACEHOLDER_MANAGEMENT_POLICY>(s.integer(11));
    return r;
}

// The hydrated column: 0 not hydrated, 1 hydrated with the bytes on the disk, otherwise the tag of
// the boot during which a hydration not yet flushed was claimed.
constexpr std::int64_t kHydratedSynced = 1;

std::int64_t bootTag() {
    static const std::int64_t tag = [] {
        std::ifstream file("/proc/sys/kernel/random/boot_id");
        std::string id;
        std::getline(file, id);
        std::uint64_t hash = 1469598103934665603ULL;
        for (unsigned char c : id) {
            hash ^= c;
            hash *= 1099511628211ULL;
        }
        return static_cast<std::int64_t>(hash >> 2) + 2;
    }();
    return tag;
}

constexpr const char* kPlaceholderColumns =
    "token, root, device, inode, identity, pin, in_sync, hydrated, is_dir, always_full, creation_time, usn";

PlaceholderRecord readRecord(const Statement& s) {
    PlaceholderRecord r;
    r.token = s.text(0);
    r.root = s.text(1);
    r.device = static_cast<std::uint64_t>(s.integer(2));
    r.inode = static_cast<std::uint64_t>(s.integer(3));
    r.identity = s.blob(4);
    r.pin = static_cast<CF_PIN_STATE>(s.integer(5));
    r.inSync = static_cast<CF_IN_SYNC_STATE>(s.integer(6));
    const std::int64_t hydrated = s.integer(7);
    r.hydrated = hydrated == kHydratedSynced || (hydrated != 0 && hydrated == bootTag());
    r.dataSynced = !r.hydrated || hydrated == kHydratedSynced;
    r.isDirectory = s.integer(8) != 0;
    r.alwaysFull = s.integer(9) != 0;
    r.creationTime = s.integer(10);
    r.usn = s.integer(11);
    return r;
}

// Enough for the records one batch of items looks up again and again, small beside a tree of
// placeholders.
constexpr std::size_t kRememberedRecords = 4096;

struct CurrentStore {
    std::mutex mutex;
    std::string path;
    std::shared_ptr<CfStore> store;
};

CurrentStore& currentStore() {
    static auto* instance = new CurrentStore;  // used by attribute queries during static destruction
    return *instance;
}

}  // namespace

bool isSameOrBelow(const std::string& path, const std::string& ancestor) {
    if (ancestor.empty()) return false;
    if (path == ancestor) return true;
    if (ancestor == "/") return !path.empty() && path[0] == '/';
    return path.size() > ancestor.size() && path.compare(0, ancestor.size(), ancestor) == 0 &&
           path[ancestor.size()] == '/';
}

std::shared_ptr<CfStore> CfStore::current() {
    auto& current = currentStore();
    const std::string path = platformHome() + "/cloudfiles.db";
    std::lock_guard lock(current.mutex);
    if (current.store && current.path == path) return current.store;
    sqlite3* db = nullptr;
    createPrivateFile(path);
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 10000);
    auto store = std::make_shared<CfStore>(db);
    // A commit reaches the write-ahead log without waiting for the disk: after a crash the store
    // may have lost its last changes but is never torn, and the only claim about file data it
    // makes, that a placeholder is hydrated, is written after that data has been flushed.
    if (!store->exec("PRAGMA journal_mode=WAL;") || !store->exec("PRAGMA synchronous=NORMAL;") ||
        !store->keyRecordsByToken() || !store->exec(kSchema.c_str())) {
        return nullptr;
    }
    // Without the mark the store keeps nothing and asks the database every time.
    store->mark_.open(path);
    current.path = path;
    current.store = store;
    return store;
}

CfStore::CfStore(sqlite3* db) : db_(db) {}

CfStore::~CfStore() {
    for (auto& [sql, prepared] : prepared_) sqlite3_finalize(prepared.stmt);
    sqlite3_close(db_);
}

bool CfStore::exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool CfStore::keyRecordsByToken() {
    auto hasRowIdTable = [this] {
        bool found = false;
        auto onRow = [](void* found, int, char**, char**) {
            *static_cast<bool*>(found) = true;
            return 0;
        };
        return sqlite3_exec(db_, kHasRowIdTable, onRow, &found, nullptr) == SQLITE_OK && found;
    };
    if (!hasRowIdTable()) return true;
    if (!exec("BEGIN IMMEDIATE")) return false;
    const bool moved = !hasRowIdTable() || exec(kMoveToKeyedTable.c_str());
    return exec(moved ? "COMMIT" : "ROLLBACK") && moved;
}

bool CfStore::run(const char* sql) {
    Statement s(*this, sql);
    return s.ok() && s.step() == SQLITE_DONE;
}

bool CfStore::cacheCurrent() {
    ChangeMark::Value now;
    if (!mark_.read(now)) {
        dropCache();
        seenValid_ = false;
        return false;
    }
    if (seenValid_ && now == seen_) return true;
    dropCache();
    seen_ = now;
    seenValid_ = true;
    return true;
}

void CfStore::dropCache() {
    roots_.reset();
    records_.clear();
}

void CfStore::remember(const PlaceholderRecord& record) {
    if (records_.size() >= kRememberedRecords) records_.clear();
    records_[record.token] = record;
}

bool CfStore::begin(bool& started) {
    started = sqlite3_get_autocommit(db_) != 0;
    if (!started) return true;
    if (!run("BEGIN IMMEDIATE")) return false;
    // Nobody else commits while this transaction holds the write lock: what is kept now stays
    // right until its own commit, which counts exactly one more.
    wrote_ = false;
    cacheCurrent();
    return true;
}

bool CfStore::end(bool started, bool ok) {
    if (!started) return ok;
    const std::uint32_t before = ChangeMark::commits(seen_);
    const bool committed = run(ok ? "COMMIT" : "ROLLBACK") && ok;
    ChangeMark::Value now;
    if (committed && seenValid_ && mark_.read(now) && ChangeMark::commits(now) == before + (wrote_ ? 1u : 0u)) {
        seen_ = now;
    } else {
        dropCache();
        seenValid_ = false;
    }
    return committed;
}

bool CfStore::inTransaction(const std::function<bool()>& work) {
    std::lock_guard lock(mutex_);
    bool started = false;
    return begin(started) && end(started, work());
}

std::vector<SyncRootRecord> CfStore::roots() {
    std::lock_guard lock(mutex_);
    const bool keep = cacheCurrent();
    if (keep && roots_) return *roots_;
    std::vector<SyncRootRecord> result;
    Statement s(*this, std::string("SELECT ") + kRootColumns + " FROM roots ORDER BY path");
    while (s.ok() && s.step() == SQLITE_ROW) result.push_back(readRoot(s));
    if (keep) roots_ = result;
    return result;
}

std::optional<SyncRootRecord> CfStore::root(const std::string& path) {
    std::lock_guard lock(mutex_);
    Statement s(*this, std::string("SELECT ") + kRootColumns + " FROM roots WHERE path = ?1");
    if (!s.ok()) return std::nullopt;
    s.bind(1, path);
    if (s.step() != SQLITE_ROW) return std::nullopt;
    return readRoot(s);
}

std::optional<SyncRootRecord> CfStore::rootContaining(const std::string& path) {
    for (auto& root : roots()) {
        if (isSameOrBelow(path, root.path)) return root;
    }
    return std::nullopt;
}

bool CfStore::putRoot(const SyncRootRecord& r) {
    std::lock_guard lock(mutex_);
    bool started = false;
    if (!begin(started)) return false;
    roots_.reset();
    wrote_ = true;
    Statement s(*this, (std::string("INSERT OR REPLACE INTO roots (") + kRootColumns +
                        ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)"));
    if (!s.ok()) return end(started, false);
    s.bind(1, r.path);
    s.bind(2, toUtf8(r.providerName));
    s.bind(3, toUtf8(r.providerVersion));
    s.bindBlob(4, r.identity.data(), r.identity.size());
    s.bindBlob(5, &r.providerId, sizeof(GUID));
    s.bind(6, static_cast<std::int64_t>(r.hydration.Primary));
    s.bind(7, static_cast<std::int64_t>(r.hydration.Modifier));
    s.bind(8, static_cast<std::int64_t>(r.population.Primary));
    s.bind(9, static_cast<std::int64_t>(r.population.Modifier));
    s.bind(10, static_cast<std::int64_t>(r.inSync));
    s.bind(11, static_cast<std::int64_t>(r.hardLink));
    s.bind(12, static_cast<std::int64_t>(r.management));
    return end(started, s.step() == SQLITE_DONE);
}

bool CfStore::removeRoot(const std::string& path) {
    std::lock_guard lock(mutex_);
    bool started = false;
    if (!begin(started)) return false;
    dropCache();
    wrote_ = true;
    Statement records(*this, "DELETE FROM placeholders WHERE root = ?1");
    Statement root(*this, "DELETE FROM roots WHERE path = ?1");
    bool ok = records.ok() && root.ok();
    if (ok) {
        records.bind(1, path);
        root.bind(1, path);
        ok = records.step() == SQLITE_DONE && root.step() == SQLITE_DONE;
    }
    return end(started, ok);
}

std::optional<PlaceholderRecord> CfStore::readPlaceholder(const std::string& token) {
    const bool keep = cacheCurrent();
    if (keep) {
        if (auto found = records_.find(token); found != records_.end()) return found->second;
    }
    Statement s(*this, std::string("SELECT ") + kPlaceholderColumns + " FROM placeholders WHERE token = ?1");
    if (!s.ok()) return std::nullopt;
    s.bind(1, token);
    if (s.step() != SQLITE_ROW) return std::nullopt;
    PlaceholderRecord record = readRecord(s);
    if (keep) remember(record);
    return record;
}

bool CfStore::writePlaceholder(const PlaceholderRecord& r, bool existing) {
    // An existing record is updated in place, with no look for a conflict first; one known to exist
    // keeps its root.
    static const std::string kUpsert =
        std::string("INSERT INTO placeholders (") + kPlaceholderColumns +
        ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12) ON CONFLICT(token) DO UPDATE SET"
        " root = excluded.root, device = excluded.device, inode = excluded.inode,"
        " identity = excluded.identity, pin = excluded.pin, in_sync = excluded.in_sync,"
        " hydrated = excluded.hydrated, is_dir = excluded.is_dir, always_full = excluded.always_full,"
        " creation_time = excluded.creation_time, usn = excluded.usn";
    static const std::string kUpdate =
        "UPDATE placeholders SET device = ?3, inode = ?4, identity = ?5, pin = ?6, in_sync = ?7, hydrated = ?8,"
        " is_dir = ?9, always_full = ?10, creation_time = ?11, usn = ?12 WHERE token = ?1 AND root = ?2";
    Statement s(*this, existing ? kUpdate : kUpsert);
    if (!s.ok()) return false;
    s.bind(1, r.token);
    s.bind(2, r.root);
    s.bind(3, static_cast<std::int64_t>(r.device));
    s.bind(4, static_cast<std::int64_t>(r.inode));
    s.bindBlob(5, r.identity.data(), r.identity.size());
    s.bind(6, static_cast<std::int64_t>(r.pin));
    s.bind(7, static_cast<std::int64_t>(r.inSync));
    s.bind(8, !r.hydrated ? 0 : r.dataSynced ? kHydratedSynced : bootTag());
    s.bind(9, static_cast<std::int64_t>(r.isDirectory));
    s.bind(10, static_cast<std::int64_t>(r.alwaysFull));
    s.bind(11, r.creationTime);
    s.bind(12, r.usn);
    wrote_ = true;
    records_.erase(r.token);
    if (s.step() != SQLITE_DONE || (existing && sqlite3_changes(db_) != 1)) return false;
    if (seenValid_) {
        // Kept as it reads back: a record that is not hydrated has no unsynced data.
        PlaceholderRecord stored = r;
        stored.dataSynced = !r.hydrated || r.dataSynced;
        remember(stored);
    }
    return true;
}

std::optional<PlaceholderRecord> CfStore::placeholder(const std::string& token) {
    std::lock_guard lock(mutex_);
    return readPlaceholder(token);
}

bool CfStore::putPlaceholder(const PlaceholderRecord& record) {
    std::lock_guard lock(mutex_);
    bool started = false;
    return begin(started) && end(started, writePlaceholder(record));
}

bool CfStore::removePlaceholder(const std::string& token) {
    std::lock_guard lock(mutex_);
    bool started = false;
    if (!begin(started)) return false;
    wrote_ = true;
    records_.erase(token);
    Statement s(*this, "DELETE FROM placeholders WHERE token = ?1");
    bool ok = s.ok();
    if (ok) {
        s.bind(1, token);
        ok = s.step() == SQLITE_DONE;
    }
    return end(started, ok);
}

bool CfStore::updatePlaceholder(const std::string& token, const std::function<bool(PlaceholderRecord&)>& change) {
    std::lock_guard lock(mutex_);
    // A change that would leave the record as it is needs no write transaction: as read, the
    // record already was what the change asks for.
    if (sqlite3_get_autocommit(db_) != 0) {
        auto current = readPlaceholder(token);
        if (!current) return false;
        if (!change(*current)) return true;
    }
    bool started = false;
    if (!begin(started)) return false;
    auto record = readPlaceholder(token);
    bool ok = record.has_value();
    if (ok && change(*record)) {
        record->usn += 1;
        ok = writePlaceholder(*record, true);
    }
    return end(started, ok);
}

}  // namespace nimbrel::platform::cf
