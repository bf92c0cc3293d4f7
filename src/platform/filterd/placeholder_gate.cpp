#include "placeholder_gate.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cf_filter_port.h"
#include "platform/descriptor_paths.h"

namespace nimbrel::platform::cf {

namespace {

constexpr const char* kTokenAttribute = "user.nimbrel.cf";

// FUSE names the thread that made the request; the Cloud Files callbacks name its process.
std::uint32_t processOf(pid_t thread) {
    const std::string status = "/proc/" + std::to_string(thread) + "/status";
    FILE* file = std::fopen(status.c_str(), "r");
    if (!file) return static_cast<std::uint32_t>(thread);
    char line[256];
    long process = thread;
    while (std::fgets(line, sizeof(line), file)) {
        if (std::strncmp(line, "Tgid:", 5) == 0) {
            process = std::atol(line + 5);
            break;
        }
    }
    std::fclose(file);
    return static_cast<std::uint32_t>(process);
}

}  // namespace

PlaceholderGate::PlaceholderGate(std::string rootPath) : rootPath_(std::move(rootPath)) {}

std::string PlaceholderGate::hostPath(const std::string& relative) const {
    return relative.empty() || relative == "." ? rootPath_ : rootPath_ + "/" + relative;
}

std::optional<PlaceholderRecord> PlaceholderGate::recordFor(const std::string& token, const struct stat& st,
                                                            bool* recordLost) const {
    auto store = CfStore::current();
    if (!store) return std::nullopt;
    auto record = store->placeholder(token);
    if (recordLost) *recordLost = !record;
    // A copy that took the attribute along is another file.
    if (!record || record->inode != st.st_ino || record->device != st.st_dev || record->root != rootPath_) {
        return std::nullopt;
    }
    return record;
}

std::optional<PlaceholderRecord> PlaceholderGate::placeholderOf(int fd, bool* recordLost) const {
    if (recordLost) *recordLost = false;
    char token[128];
    ssize_t n = ::fgetxattr(fd, kTokenAttribute, token, sizeof(token));
    struct stat st {};
    if (n <= 0 || ::fstat(fd, &st) != 0) return std::nullopt;
    return recordFor(std::string(token, static_cast<std::size_t>(n)), st, recordLost);
}

bool PlaceholderGate::isDehydrated(const std::string& accessPath) const {
    // Ordinary files answer the attribute lookup without a store query.
    char token[128];
    ssize_t n = getXattrPath(accessPath, kTokenAttribute, token, sizeof(token), false);
    struct stat st {};
    if (n <= 0 || statPath(accessPath, st, false) != 0) return false;
    auto record = recordFor(std::string(token, static_cast<std::size_t>(n)), st);
    return record && !record->hydrated;
}

NTSTATUS PlaceholderGate::fetch(const std::string& relative, pid_t thread) const {
    return requestThroughPortFor(rootPath_, PortOperation::ReadFor, hostPath(relative), 0, CF_EOF, processOf(thread));
}

bool PlaceholderGate::opened(const std::string& relative, pid_t thread) const {
    return requestThroughPortFor(rootPath_, PortOperation::OpenFor, hostPath(relative), 0, 0, processOf(thread)) ==
           STATUS_CLOUD_FILE_ACCESS_DENIED;
}

void PlaceholderGate::written(const std::string& token, bool local) const {
    auto store = CfStore::current();
    if (!store) return;
    store->updatePlaceholder(token, [local](PlaceholderRecord& record) {
        const bool changed = record.inSync != CF_IN_SYNC_STATE_NOT_IN_SYNC || (local && !record.hydrated);
        record.inSync = CF_IN_SYNC_STATE_NOT_IN_SYNC;
        if (local) record.hydrated = true;
        return changed;
    });
}

}  // namespace nimbrel::platform::cf
