#include "placeholder_gate.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cf_filter_port.h"
#include "cf_record_codec.h"
#include "cf_record_file.h"
#include "platform/descriptor_paths.h"

namespace nimbrel::platform::cf {

namespace {

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

std::optional<PlaceholderRecord> PlaceholderGate::recordFor(const std::string& path, int fd, bool* recordLost) const {
    // Ordinary files answer the attribute read alone.
    auto record = readRecord(RecordFile{path, fd}, recordLost);
    struct stat st {};
    if (!record || (fd >= 0 ? ::fstat(fd, &st) : statPath(path, st, false)) != 0) return std::nullopt;
    // A copy that took the attribute along is another file.
    if (!isRecordOf(*record, rootPath_, st)) return std::nullopt;
    return record;
}

std::optional<PlaceholderRecord> PlaceholderGate::placeholderOf(int fd, bool* recordLost) const {
    return recordFor("/proc/self/fd/" + std::to_string(fd), fd, recordLost);
}

bool PlaceholderGate::isDehydrated(const std::string& accessPath) const {
    auto record = recordFor(accessPath, -1);
    return record && !record->hydrated;
}

NTSTATUS PlaceholderGate::fetch(const std::string& relative, pid_t thread) const {
    return requestThroughPortFor(rootPath_, PortOperation::ReadFor, hostPath(relative), 0, CF_EOF, processOf(thread));
}

bool PlaceholderGate::opened(const std::string& relative, pid_t thread) const {
    return requestThroughPortFor(rootPath_, PortOperation::OpenFor, hostPath(relative), 0, 0, processOf(thread)) ==
           STATUS_CLOUD_FILE_ACCESS_DENIED;
}

void PlaceholderGate::written(int fd, bool local) const {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return;
    updateRecord(RecordFile{"/proc/self/fd/" + std::to_string(fd), fd, static_cast<std::uint64_t>(st.st_dev),
                            static_cast<std::uint64_t>(st.st_ino)},
                 [local](PlaceholderRecord& record) {
                     const bool changed = record.inSync != CF_IN_SYNC_STATE_NOT_IN_SYNC || (local && !record.hydrated);
                     record.inSync = CF_IN_SYNC_STATE_NOT_IN_SYNC;
                     if (local) record.hydrated = true;
                     return changed;
                 });
}

}  // namespace nimbrel::platform::cf
