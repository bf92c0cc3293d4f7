#pragma once
// The persistent state of the Cloud Files stand-in in SQLite under NIMBREL_PLATFORM_HOME: sync-root
// registrations, and what of a placeholder record its file cannot carry (see cf_record_file.h): an
// identity too long for it, and the records an earlier build kept here under a token on the file.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cf_change_mark.h"
#include "platform/cfapi.h"

struct sqlite3;
struct sqlite3_stmt;

namespace nimbrel::platform::cf {

struct SyncRootRecord {
    std::string path;  // canonical host path
    std::wstring providerName;
    std::wstring providerVersion;
    std::string identity;  // SyncRootIdentity bytes
    GUID providerId{};
    CF_HYDRATION_POLICY hydration{};
    CF_POPULATION_POLICY population{};
    CF_INSYNC_POLICY inSync = CF_INSYNC_POLICY_NONE;
    CF_HARDLINK_POLICY hardLink = CF_HARDLINK_POLICY_NONE;
    CF_PLACEHOLDER_MANAGEMENT_POLICY management = CF_PLACEHOLDER_MANAGEMENT_POLICY_DEFAULT;
};

struct PlaceholderRecord {
    std::uint32_t rootTag = 0;  // rootTagOf the sync root the placeholder was made in
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::string identity;  // FileIdentity bytes, at most CF_PLACEHOLDER_MAX_FILE_IDENTITY_LENGTH
    CF_PIN_STATE pin = CF_PIN_STATE_UNSPECIFIED;
    CF_IN_SYNC_STATE inSync = CF_IN_SYNC_STATE_NOT_IN_SYNC;
    bool hydrated = false;  // every byte of the file is local; always true for folders
    // False while the bytes of a hydration may still be only in the page cache: such a claim holds
    // until the machine restarts (a killed process leaves the cache whole), never across a restart.
    bool dataSynced = true;
    bool isDirectory = false;
    bool alwaysFull = false;
    std::int64_t creationTime = 0;  // FILETIME ticks; Linux keeps no settable birth time
    std::int64_t usn = 0;           // grows with every change of the record
    // The key the store keeps the identity under when the file cannot carry it; 0 when it does.
    std::uint64_t identityKey = 0;
};

// A file's device and inode.
using FileKey = std::pair<std::uint64_t, std::uint64_t>;

inline FileKey fileKeyOf(const PlaceholderRecord& record) { return {record.device, record.inode}; }

class CfStore {
public:
    // The store of the current NIMBREL_PLATFORM_HOME (reopened when the variable changes);
    // nullptr when the database cannot be opened.
    static std::shared_ptr<CfStore> current();

    explicit CfStore(sqlite3* db);
    ~CfStore();
    CfStore(const CfStore&) = delete;
    CfStore& operator=(const CfStore&) = delete;

    std::vector<SyncRootRecord> roots();
    std::optional<SyncRootRecord> root(const std::string& path);
    // The registered root that is `path` or one of its ancestors.
    std::shared_ptr<const SyncRootRecord> rootContaining(const std::string& path);
    bool putRoot(const SyncRootRecord& root);
    // Removes the registration and what the store keeps of the placeholders made in it.
    bool removeRoot(const std::string& path);

    // Keeps an identity that a placeholder of the root tagged `rootTag` cannot carry; its new key,
    // or 0 when the database fails. A commit reaches the write-ahead log, which survives the
    // process but may lose its last commits when the machine stops (the store stays whole).
    std::uint64_t keepIdentity(const std::string& identity, std::uint32_t rootTag);
    std::optional<std::string> keptIdentity(std::uint64_t key);
    // The record an earlier build kept under `token` (device, inode and root tag included).
    std::optional<PlaceholderRecord> earlierPlaceholder(const std::string& token);

private:
    // A statement lent out by `prepare`: prepared once per store, reset when handed back.
    struct Prepared {
        sqlite3_stmt* stmt = nullptr;
        bool lent = false;
    };
    friend class Statement;

    // True when what the store keeps in memory is what the database holds now: nothing was
    // committed since it was read, but by this connection, whose changes it took along. False
    // (and nothing kept) when the database's change mark cannot be read.
    bool cacheCurrent();
    void dropCache();

    bool exec(const char* sql);
    // A statement that changes no setting, through the prepared ones (a pragma acts when it is
    // prepared): transaction control runs several times per call.
    bool run(const char* sql);
    // Opens a write transaction unless one is open already (`started` tells which); `end` commits
    // or rolls back only one that `begin` opened.
    bool begin(bool& started);
    bool end(bool started, bool ok);

    sqlite3* db_;
    std::recursive_mutex mutex_;
    std::map<std::string, Prepared> prepared_;
    // The registrations as last read or written: every item lookup needs them. Another
    // connection's commit drops them (see `cacheCurrent`), and so does a rollback of this one.
    ChangeMark mark_;
    ChangeMark::Value seen_{};
    bool seenValid_ = false;
    bool wrote_ = false;  // the open transaction changed the database
    // The registered roots as last read, while the store is unchanged (see cacheCurrent).
    std::shared_ptr<const std::vector<SyncRootRecord>> rootList();
    std::shared_ptr<const std::vector<SyncRootRecord>> roots_;
};

// True when `path` is `ancestor` or lies below it (host paths, no trailing "/").
bool isSameOrBelow(const std::string& path, const std::string& ancestor);

}  // namespace nimbrel::platform::cf
