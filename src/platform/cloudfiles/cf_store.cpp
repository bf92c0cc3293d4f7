#include "cf_store.h"

#include <sqlite3.h>

#include <cstring>
#include <random>

#include "cf_record_codec.h"
#include "platform/platform_paths.h"

namespace nimbrel::platform::cf {

namespace {

// Tables of the placeholders' records an earlier build kept here, keyed by the token it wrote on
// each file (with or without row ids), and of the identities too long for a file to carry.
// Records on files made by an earlier build are read from the first one until they are met and
// rewritten; its rows are kept, as a copy of such a file may carry the same token.
const std::string kSchema =
    "CREATE TABLE IF NOT EXISTS roots ("
    " path TEXT PRIMARY KEY, provider_name TEXT, provider_version TEXT, identity BLOB, provider_id BLOB,"
    " hydration_primary INTEGER, hydration_modifier INTEGER, population_primary INTEGER,"
    " population_modifier INTEGER, insync_policy INTEGER, hardlink_policy INTEGER,"
    " management_policy INTEGER);"
    "CREATE TABLE IF NOT EXISTS placeholders"
    " (token TEXT PRIMARY KEY, root TEXT, device INTEGER, inode INTEGER, identity BLOB, pin INTEGER,"
    " in_sync INTEGER, hydrated INTEGER, is_dir INTEGER, always_full INTEGER, creation_time INTEGER,"
    " usn INTEGER) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS identities (key INTEGER PRIMARY KEY, root_tag INTEGER, identity BLOB);";

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

// The hydrated column of an earlier build's record: 0 not hydrated, 1 hydrated with the bytes on
// the disk, otherwise the tag of the boot during which a hydration not yet flushed was claimed.
constexpr std::int64_t kHydratedSynced = 1;

std::int64_t earlierBootTag() { return static_cast<std::int64_t>(bootHash() >> 2) + 2; }

constexpr const char* kEarlierColumns =
    "root, device, inode, identity, pin, in_sync, hydrated, is_dir, always_full, creation_time, usn";

PlaceholderRecord readEarlierRecord(const Statement& s) {
    PlaceholderRecord r;
    r.rootTag = rootTagOf(s.text(0));
    r.device = static_cast<std::uint64_t>(s.integer(1));
    r.inode = static_cast<std::uint64_t>(s.integer(2));
    r.identity = s.blob(3);
    r.pin = static_cast<CF_PIN_STATE>(s.integer(4));
    r.inSync = static_cast<CF_IN_SYNC_STATE>(s.integer(5));
    const std::int64_t hydrated = s.integer(6);
    r.hydrated = hydrated == kHydratedSynced || (hydrated != 0 && hydrated == earlierBootTag());
    r.dataSynced = !r.hydrated || hydrated == kHydratedSynced;
    r.isDirectory = s.integer(7) != 0;
    r.alwaysFull = s.integer(8) != 0;
    r.creationTime = s.integer(9);
    r.usn = s.integer(10);
    return r;
}

struct CurrentStore {
    std::mutex mutex;
    std::string home;  // the platform home the store lives in
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
    const std::string& home = platformHome();
    std::lock_guard lock(current.mutex);
    if (current.store && current.home == home) return current.store;
    const std::string path = home + "/cloudfiles.db";
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
    // may have lost its last changes but is never torn. A placeholder whose kept identity was lost
    // so reads as one whose record is lost, and is made whole by converting it again.
    if (!store->exec("PRAGMA journal_mode=WAL;") || !store->exec("PRAGMA synchronous=NORMAL;") ||
        !store->exec(kSchema.c_str())) {
        return nullptr;
    }
    // Without the mark the store keeps nothing and asks the database every time.
    store->mark_.open(path);
    current.home = home;
    current.store = store;
    return store;
}

CfStore::CfStore(sqlite3* db) : db_(db) {}

CfStore::~CfStore() {
    for (auto& [sql, prepared] : prepared_) sqlite3_finalize(prepared.stmt);
    sqlite3_close(db_);
}

bool CfStore::exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

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

void CfStore::dropCache() { roots_.reset(); }

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

std::shared_ptr<const std::vector<SyncRootRecord>> CfStore::rootList() {
    const bool keep = cacheCurrent();
    if (keep && roots_) return roots_;
    auto result = std::make_shared<std::vector<SyncRootRecord>>();
    Statement s(*this, std::string("SELECT ") + kRootColumns + " FROM roots ORDER BY path");
    while (s.ok() && s.step() == SQLITE_ROW) result->push_back(readRoot(s));
    if (keep) roots_ = result;
    return result;
}

std::vector<SyncRootRecord> CfStore::roots() {
    std::lock_guard lock(mutex_);
    return *rootList();
}

std::optional<SyncRootRecord> CfStore::root(const std::string& path) {
    std::lock_guard lock(mutex_);
    Statement s(*this, std::string("SELECT ") + kRootColumns + " FROM roots WHERE path = ?1");
    if (!s.ok()) return std::nullopt;
    s.bind(1, path);
    if (s.step() != SQLITE_ROW) return std::nullopt;
    return readRoot(s);
}

std::shared_ptr<const SyncRootRecord> CfStore::rootContaining(const std::string& path) {
    std::lock_guard lock(mutex_);
    // Every item lookup asks: the root found is shared with the list it is in, not copied.
    auto all = rootList();
    for (const auto& root : *all) {
        if (isSameOrBelow(path, root.path)) return std::shared_ptr<const SyncRootRecord>(all, &root);
    }
    return nullptr;
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
    Statement identities(*this, "DELETE FROM identities WHERE root_tag = ?1");
    Statement root(*this, "DELETE FROM roots WHERE path = ?1");
    bool ok = records.ok() && identities.ok() && root.ok();
    if (ok) {
        records.bind(1, path);
        identities.bind(1, static_cast<std::int64_t>(rootTagOf(path)));
        root.bind(1, path);
        ok = records.step() == SQLITE_DONE && identities.step() == SQLITE_DONE && root.step() == SQLITE_DONE;
    }
    return end(started, ok);
}

std::uint64_t CfStore::keepIdentity(const std::string& identity, std::uint32_t rootTag) {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    // Random keys are never given twice, so a key that a copy of a file carries along never names
    // another identity later.
    const std::uint64_t key = (generator() >> 1) | 1;
    std::lock_guard lock(mutex_);
    bool started = false;
    if (!begin(started)) return 0;
    wrote_ = true;
    Statement s(*this, "INSERT INTO identities (key, root_tag, identity) VALUES (?1, ?2, ?3)");
    bool ok = s.ok();
    if (ok) {
        s.bind(1, static_cast<std::int64_t>(key));
        s.bind(2, static_cast<std::int64_t>(rootTag));
        s.bindBlob(3, identity.data(), identity.size());
        ok = s.step() == SQLITE_DONE;
    }
    return end(started, ok) ? key : 0;
}

std::optional<std::string> CfStore::keptIdentity(std::uint64_t key) {
    std::lock_guard lock(mutex_);
    Statement s(*this, "SELECT identity FROM identities WHERE key = ?1");
    if (!s.ok()) return std::nullopt;
    s.bind(1, static_cast<std::int64_t>(key));
    if (s.step() != SQLITE_ROW) return std::nullopt;
    return s.blob(0);
}

std::optional<PlaceholderRecord> CfStore::earlierPlaceholder(const std::string& token) {
    std::lock_guard lock(mutex_);
    Statement s(*this, std::string("SELECT ") + kEarlierColumns + " FROM placeholders WHERE token = ?1");
    if (!s.ok()) return std::nullopt;
    s.bind(1, token);
    if (s.step() != SQLITE_ROW) return std::nullopt;
    return readEarlierRecord(s);
}

}  // namespace nimbrel::platform::cf
