// Processes from /proc: snapshots, handles, memory counters, and ending oneself (Nimbrel neither
// ends nor waits for another process, so a process handle cannot do either). A process's image
// name is its comm, which the kernel keeps to 15 characters: a longer image name shows cut short.
// A snapshot holds only the processes of this machine scope (the same NIMBREL_RUNTIME_DIR as the
// caller, as the process was started), so that two test runs never see each other's clients.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/kernel_object.h"
#include "platform/platform_paths.h"
#include "platform/win_error.h"
#include "platform/win_file.h"
#include "platform/win_process.h"

namespace {

namespace p = nimbrel::platform;

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

struct ProcStat {
    std::string comm;
    DWORD parent = 0;
    DWORD threads = 0;
    DWORD faults = 0;
};

bool readStat(pid_t pid, ProcStat& stat) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return false;
    auto open = line.find('(');
    auto close = line.rfind(')');  // the name itself may hold ")"
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    stat.comm = line.substr(open + 1, close - open - 1);
    std::istringstream rest(line.substr(close + 1));
    std::vector<std::string> fields;
    for (std::string field; rest >> field;) fields.push_back(field);
    if (fields.size() < 18) return false;
    // Fields after the name: state, ppid, ..., minflt (8th), majflt (10th), num_threads (18th).
    stat.parent = static_cast<DWORD>(std::stoul(fields[1]));
    stat.faults = static_cast<DWORD>(std::stoull(fields[7]) + std::stoull(fields[9]));
    stat.threads = static_cast<DWORD>(std::stoul(fields[17]));
    return true;
}

// The NIMBREL_RUNTIME_DIR a process was started with; empty when it had none or is not readable.
std::string startupRuntimeDir(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    const std::string key = "NIMBREL_RUNTIME_DIR=";
    for (std::string entry; std::getline(in, entry, '\0');) {
        if (entry.rfind(key, 0) == 0) return entry.substr(key.size());
    }
    return {};
}

bool inCallersScope(pid_t pid) {
    const char* own = std::getenv("NIMBREL_RUNTIME_DIR");
    return startupRuntimeDir(pid) == (own ? own : "");
}

class SnapshotObject : public p::KernelObject {
public:
    std::vector<PROCESSENTRY32W> entries;
    std::size_t next = 0;
};

struct ProcessObject : p::KernelObject {
    pid_t pid = 0;
    DWORD access = 0;
};

// The process behind a handle (or the pseudo-handle); 0 with ERROR_INVALID_HANDLE otherwise.
pid_t pidFor(HANDLE process, DWORD* access = nullptr) {
    if (process == kCurrentProcess) {
        if (access) *access = PROCESS_ALL_ACCESS;
        return ::getpid();
    }
    auto object = p::handleAs<ProcessObject>(process);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (access) *access = object->access;
    return object->pid;
}

bool copyEntry(SnapshotObject& snapshot, LPPROCESSENTRY32W entry) {
    if (!entry || entry->dwSize < sizeof(PROCESSENTRY32W)) {
        SetLastError(ERROR_BAD_LENGTH);
        return false;
    }
    if (snapshot.next >= snapshot.entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return false;
    }
    *entry = snapshot.entries[snapshot.next++];
    return true;
}

SIZE_T statusKilobytes(const std::string& status, const char* key) {
    auto at = status.find(std::string("\n") + key + ":");
    if (at == std::string::npos) return 0;
    return static_cast<SIZE_T>(std::strtoull(status.c_str() + at + std::strlen(key) + 2, nullptr, 10)) * 1024;
}

}  // namespace

extern "C" HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD) {
    if (!(flags & TH32CS_SNAPPROCESS)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto snapshot = std::make_shared<SnapshotObject>();
    DIR* proc = ::opendir("/proc");
    if (!proc) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    while (dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0) continue;
        if (!inCallersScope(static_cast<pid_t>(pid))) continue;
        ProcStat stat;
        if (!readStat(static_cast<pid_t>(pid), stat)) continue;  // ended meanwhile
        PROCESSENTRY32W record{};
        record.dwSize = sizeof record;
        record.th32ProcessID = static_cast<DWORD>(pid);
        record.cntThreads = stat.threads;
        record.th32ParentProcessID = stat.parent;
        record.pcPriClassBase = 8;  // NORMAL_PRIORITY_CLASS base priority
        std::wstring name = p::fromUtf8(stat.comm);
        name.resize(std::min<std::size_t>(name.size(), MAX_PATH - 1));
        std::copy(name.begin(), name.end(), record.szExeFile);
        snapshot->entries.push_back(record);
    }
    ::closedir(proc);
    std::sort(snapshot->entries.begin(), snapshot->entries.end(),
              [](const auto& a, const auto& b) { return a.th32ProcessID < b.th32ProcessID; });
    return p::registerHandle(std::move(snapshot));
}

extern "C" BOOL Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
    auto object = p::handleAs<SnapshotObject>(snapshot);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->next = 0;
    return copyEntry(*object, entry) ? TRUE : FALSE;
}

extern "C" BOOL Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
    auto object = p::handleAs<SnapshotObject>(snapshot);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return copyEntry(*object, entry) ? TRUE : FALSE;
}

extern "C" HANDLE OpenProcess(DWORD desiredAccess, BOOL, DWORD processId) {
    ProcStat stat;
    if (processId == 0 || !readStat(static_cast<pid_t>(processId), stat)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto object = std::make_shared<ProcessObject>();
    object->pid = static_cast<pid_t>(processId);
    object->access = desiredAccess;
    return p::registerHandle(std::move(object));
}

extern "C" HANDLE GetCurrentProcess() { return kCurrentProcess; }

extern "C" DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

extern "C" DWORD GetProcessId(HANDLE process) { return static_cast<DWORD>(pidFor(process)); }

extern "C" BOOL TerminateProcess(HANDLE process, UINT exitCode) {
    if (process != kCurrentProcess) {
        SetLastError(p::handleAs<ProcessObject>(process) ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Ending oneself runs no clean-up at all: no atexit handlers, no static destructors, no flushing.
    ::_exit(static_cast<int>(exitCode));
}

extern "C" BOOL GetProcessMemoryInfo(HANDLE process, PROCESS_MEMORY_COUNTERS* counters, DWORD size) {
    DWORD access = 0;
    pid_t pid = pidFor(process, &access);
    if (pid == 0) return FALSE;
    if (!counters || size < sizeof(PROCESS_MEMORY_COUNTERS)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!(access & (PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string status = "\n" + buffer.str();
    ProcStat stat;
    if (!in || !readStat(pid, stat)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *counters = PROCESS_MEMORY_COUNTERS{};
    counters->cb = sizeof(PROCESS_MEMORY_COUNTERS);
    counters->PageFaultCount = stat.faults;
    counters->WorkingSetSize = statusKilobytes(status, "VmRSS");
    counters->PeakWorkingSetSize = statusKilobytes(status, "VmHWM");
    // Private committed memory: anonymous resident pages plus what was swapped out.
    counters->PagefileUsage = statusKilobytes(status, "RssAnon") + statusKilobytes(status, "VmSwap");
    counters->PeakPagefileUsage = std::max(counters->PagefileUsage, counters->PeakWorkingSetSize);
    return TRUE;
}
