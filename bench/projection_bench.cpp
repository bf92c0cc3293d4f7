// Projection speed and size, release build. In one run:
//  - the floor: 100 000 sparse files with one small extended attribute each, created directly in
//    1 000 folders (what any projection must at least do), once right before the push and once
//    right after it: the machine's rate swings between runs, and the push is set against the mean;
//  - pushFileSystem of 100 000 new files in 1 000 folders, in batches of 1 000, through the real
//    channel into a mounted root, with the rate of its first and of its last tenth (a cost that
//    grows with every placeholder already made shows as a falling rate);
//  - the same push again, as a client does after every restart: the items exist and are unchanged;
//  - pushFileAdd of 8 192 complete local files, then of the same 8 192 again: the Cloud Files calls
//    of the second pass, both rates and the handler time per duplicate;
//  - the process's resident memory afterwards (server and this small client share the process).
// The file system writes back what it holds before each measured phase (floors and first push).
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_scratch.h"
#include "host/sync_virtual_config.h"
#include "ipc/mirror_dedup_guard.h"
#include "ipc/service_ipc_manager.h"
#include "ipc/shell_refresh.h"
#include "platform/fault_injection.h"
#include "suite/ipcmodule/ipc_interface.h"

namespace {

using Clock = std::chrono::steady_clock;
// The full size by default; smaller runs (for profiling) pass: scratch folder, folders, files per
// folder, pushFileAdd items, and optionally the number of senders that push batches side by side (one
// per processor by default, as the reference client pushes a tree's files: the server projects
// batches side by side).
int folderCount = 1000;
int filesPerFolder = 100;
constexpr int kBatch = 1000;
// How far the floor may move between before and after the push while the ratio still holds.
constexpr double kSteadyFloor = 1.25;
int addItems = 8192;
unsigned senderCount = std::max(1u, std::thread::hardware_concurrency());
const char* const kMutatingCalls[] = {"CfCreatePlaceholders", "CfConvertToPlaceholder", "CfUpdatePlaceholder",
                                      "CfSetPinState", "CfSetInSyncState"};

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The processor time this process has used, user and system: unlike the rates it hardly depends on
// what else the machine runs meanwhile (the filter service's is not counted).
double cpuSeconds() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Answers every request of the server with success, as a main client that is logged in.
class BenchClient : public IRequestNotify {
public:
    int OnRequest(const char* ipcName, const std::wstring&) override {
        return channel->reply(ipcName, L"{\"code\":\"S_OK\"}");
    }
    IIpcInterface* channel = nullptr;
};

std::string makeDir(const std::string& path) {
    mkdir(path.c_str(), 0777);
    return path;
}

// Writes back what the file system still holds of the work before, so that a measured phase does
// not pay for the phase before it: 100 000 new files leave seconds of journal commits and writeback,
// which take a processor away from whatever runs next.
void settle(const std::string& scratch) {
    const int fd = open(scratch.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || syncfs(fd) != 0) std::perror(scratch.c_str());
    if (fd >= 0) close(fd);
}

double sparseFilesPerSecond(const std::string& folder) {
    const auto start = Clock::now();
    for (int d = 0; d < folderCount; ++d) {
        const std::string dir = makeDir(folder + "/d" + std::to_string(d));
        for (int f = 0; f < filesPerFolder; ++f) {
            const std::string path = dir + "/f" + std::to_string(f) + ".bin";
            int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 || ftruncate(fd, 70000) != 0 || fsetxattr(fd, "user.bench", "0123456789abcdef", 16, 0) != 0) {
                std::perror(path.c_str());
                std::exit(1);
            }
            close(fd);
        }
    }
    return folderCount * filesPerFolder / secondsSince(start);
}

std::string record(const std::string& folder, const std::string& name, const std::string& id, int type, long size) {
    return "{\"id\":\"" + id + "\",\"filePath\":\"" + folder + "\",\"fileName\":\"" + name +
           "\",\"type\":" + std::to_string(type) + ",\"isVirtual\":1,\"size\":" + std::to_string(size) +
           ",\"lCreateTime\":1600000000,\"lUpdateTime\":1600000100,\"lAccessTime\":1600000200}";
}

std::wstring request(const std::string& command, const std::string& body) {
    return QString::fromStdString(command + "\r\n" + body).toStdWString();
}

bool send(IIpcInterface* channel, const std::string& command, const std::string& body) {
    std::wstring reply;
    if (channel->request(request(command, body), reply) != kIpcRequestOk ||
        reply.find(L"\"code\":\"S_OK\"") == std::wstring::npos) {
        std::fprintf(stderr, "%s failed: %s\n", command.c_str(),
                     QString::fromStdWString(reply).left(400).toUtf8().data());
        return false;
    }
    return true;
}

int mutatingCalls() {
    int total = 0;
    for (const char* name : kMutatingCalls) total += nimbrel::platform::faults::callCount(name);
    return total;
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// One push of every file as pushFileSystem batches, each sender taking the next batch.
struct PushRun {
    double rate = 0;
    double firstTenthRate = 0;
    double lastTenthRate = 0;
};

std::optional<PushRun> pushFiles(IIpcInterface* channel, const std::string& root) {
    const int total = folderCount * filesPerFolder;
    const int tenth = std::max(kBatch, total / 10 / kBatch * kBatch);
    std::atomic<int> nextBatch{0};
    std::atomic<int> batchesDone{0};
    std::atomic<bool> failed{false};
    std::mutex marks;
    Clock::time_point firstTenthEnd{}, lastTenthStart{};
    const auto start = Clock::now();
    auto sender = [&] {
        for (int first; !failed && (first = nextBatch.fetch_add(kBatch)) < total;) {
            if (first == total - tenth) {
                std::lock_guard lock(marks);
                lastTenthStart = Clock::now();
            }
            std::string body = "{\"fileInfo\":[";
            for (int i = first; i < std::min(first + kBatch, total); ++i) {
                body += (i > first ? "," : "") + record(root + "/d" + std::to_string(i / filesPerFolder),
                                                        "f" + std::to_string(i) + ".bin", "f" + std::to_string(i), 1,
                                                        70000);
            }
            if (!send(channel, "pushFileSystem", body + "]}")) failed = true;
            if ((batchesDone.fetch_add(1) + 1) * kBatch == tenth) {
                std::lock_guard lock(marks);
                firstTenthEnd = Clock::now();
            }
        }
    };
    std::vector<std::thread> senders;
    for (unsigned i = 0; i < senderCount; ++i) senders.emplace_back(sender);
    for (auto& thread : senders) thread.join();
    if (failed) return std::nullopt;
    PushRun run;
    run.rate = total / secondsSince(start);
    run.firstTenthRate = tenth / std::chrono::duration<double>(firstTenthEnd - start).count();
    run.lastTenthRate = tenth / secondsSince(lastTenthStart);
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const bool ownScratch = argc <= 1 || !*argv[1];
    const std::string scratch = ownScratch ? makeScratchFolder("nimbrel-projection-bench") : makeDir(argv[1]);
    if (scratch.empty()) {
        std::perror("projection_bench: no scratch folder under TMPDIR");
        return 1;
    }
    if (argc > 4) {
        folderCount = std::atoi(argv[2]);
        filesPerFolder = std::atoi(argv[3]);
        addItems = std::atoi(argv[4]);
    }
    if (argc > 5) senderCount = std::max(1, std::atoi(argv[5]));
    setenv("NIMBREL_PLATFORM_HOME", makeDir(scratch + "/home").c_str(), 1);
    setenv("NIMBREL_RUNTIME_DIR", makeDir(scratch + "/run").c_str(), 1);
    setenv("NIMBREL_IPC_TIMEOUT_MS", "600000", 1);
    // The filter service started for the mount ends with this process, never outliving it.
    setenv("NIMBREL_CFD_OWNER", std::to_string(getpid()).c_str(), 1);
    CSyncVirtualConfig* config = createSyncConfig(1);
    // Logs and settings as the server keeps them: every placeholder made writes its log line.
    config->init(1);
    prctl(PR_SET_NAME, config->clientAppName(false).toUtf8().constData(), 0, 0, 0);

    static BenchClient client;
    const std::string exeDir = [] {
        char path[4096] = {};
        readlink("/proc/self/exe", path, sizeof(path) - 1);
        std::string text(path);
        return text.substr(0, text.rfind('/'));
    }();
    void* module = dlopen((exeDir + "/libipcmodule.so").c_str(), RTLD_NOW);
    if (!module) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto create = reinterpret_cast<CreateIpcInterfaceFn>(dlsym(module, "CreateIpcInterface"));
    create(&client.channel, &client);
    client.channel->start(config->servicePluginChannel().toStdString().c_str(),
                          config->pluginServiceChannel().toStdString().c_str());
    CServiceIpcManager& manager = CServiceIpcManager::instance();
    // As the server runs it: its projection tells Explorer through the coalescing shell refresh.
    manager.setProjectionShellRefresh(&CShellRefresh::instance());
    manager.startIpcService();

    settle(scratch);
    double cpuStart = cpuSeconds();
    const double floorBefore = sparseFilesPerSecond(makeDir(scratch + "/floor-before"));
    const double floorCpu = cpuSeconds() - cpuStart;

    const std::string root = makeDir(scratch + "/root");
    if (!send(client.channel, "mountMirror", "{\"mountPath\":\"" + root + "\"}")) return 1;
    std::string folders;
    for (int d = 0; d < folderCount; ++d) {
        folders += (d ? "," : "") + record(root, "d" + std::to_string(d), "d" + std::to_string(d), 2, 0);
    }
    if (!send(client.channel, "pushFileSystem", "{\"fileInfo\":[" + folders + "]}")) return 1;
    const int total = folderCount * filesPerFolder;
    settle(scratch);
    cpuStart = cpuSeconds();
    const auto push = pushFiles(client.channel, root);
    if (!push) return 1;
    const double pushCpu = cpuSeconds() - cpuStart;
    settle(scratch);
    const double floorAfter = sparseFilesPerSecond(makeDir(scratch + "/floor-after"));
    const double floor = (floorBefore + floorAfter) / 2;
    std::printf("floor: %d sparse files with one small extended attribute: %.0f files/s before the push, %.0f after\n",
                total, floorBefore, floorAfter);
    std::printf(
        "pushFileSystem: %d new files in batches of %d from %u senders: %.0f files/s (first tenth %.0f, last "
        "tenth %.0f); floor %.0f files/s (mean); ratio %.3f\n",
        total, kBatch, senderCount, push->rate, push->firstTenthRate, push->lastTenthRate, floor, push->rate / floor);
    std::printf("processor time per file: pushFileSystem %.1f us, floor %.1f us\n", pushCpu * 1e6 / total,
                floorCpu * 1e6 / total);
    if (std::max(floorBefore, floorAfter) > kSteadyFloor * std::min(floorBefore, floorAfter)) {
        std::printf(
            "warning: the floor moved from %.0f to %.0f files/s: the file system's speed changed under the run, and "
            "the ratio does not hold (scripts/bench.sh --fresh-fs gives the run a file system of its own)\n",
            floorBefore, floorAfter);
    }

    // The client pushes its tree again after every restart: the items exist and nothing changed.
    nimbrel::platform::faults::resetCallCounts();
    cpuStart = cpuSeconds();
    const auto again = pushFiles(client.channel, root);
    if (!again) return 1;
    std::printf(
        "pushFileSystem again: the same %d files, unchanged: %.0f files/s, %.2f x the first push; %d Cloud Files "
        "changes; processor time per file %.1f us\n",
        total, again->rate, again->rate / push->rate, mutatingCalls(), (cpuSeconds() - cpuStart) * 1e6 / total);

    const std::string local = makeDir(root + "/local");
    std::vector<std::string> adds;
    for (int i = 0; i < addItems; ++i) {
        const std::string path = local + "/l" + std::to_string(i) + ".txt";
        std::ofstream(path) << "local content " << i;
        struct stat st {};
        stat(path.c_str(), &st);
        adds.push_back("{\"id\":\"l" + std::to_string(i) + "\",\"filePath\":\"" + path +
                       "\",\"type\":1,\"isVirtual\":0,\"status\":3,\"size\":" + std::to_string(st.st_size) +
                       ",\"lCreateTime\":1600000000,\"lUpdateTime\":1600000100,\"lAccessTime\":1600000200}");
    }
    auto start = Clock::now();
    for (const auto& body : adds) {
        if (!send(client.channel, "pushFileAdd", body)) return 1;
    }
    const double firstRate = addItems / secondsSince(start);
    nimbrel::platform::faults::resetCallCounts();
    const std::uint64_t skippedBefore = manager.pushFileAddSkipped();
    start = Clock::now();
    for (const auto& body : adds) {
        if (!send(client.channel, "pushFileAdd", body)) return 1;
    }
    const double secondRate = addItems / secondsSince(start);
    const int calls = mutatingCalls();
    const int reads = nimbrel::platform::faults::callCount("CfGetPlaceholderInfo");
    const std::uint64_t duplicates = manager.pushFileAddSkipped() - skippedBefore;
    // The handler alone, without the channel: its reply goes to a request nobody waits for.
    start = Clock::now();
    for (const auto& body : adds) manager.OnRequest("bench#handler", request("pushFileAdd", body));
    const double handlerUs = secondsSince(start) * 1e6 / addItems;
    std::printf(
        "pushFileAdd: %d complete items, first pass %.0f items/s, second pass %.0f items/s, ratio %.2f; "
        "second pass: %d Cloud Files changes, %d placeholder reads, %llu answered as duplicates; handler time "
        "per duplicate %.1f us\n",
        addItems, firstRate, secondRate, secondRate / firstRate, calls, reads,
        static_cast<unsigned long long>(duplicates), handlerUs);
    std::printf("memory: %.1f MiB resident after %d projected items and %zu guard entries; bound 64 MiB; ratio %.2f\n",
                residentKiB() / 1024.0, folderCount * (filesPerFolder + 1) + addItems,
                MirrorDedupGuard::instance().size(), residentKiB() / 1024.0 / 64);
    std::fflush(stdout);
    // A scratch folder of the bench's own making goes with the run: the unmount unregisters the
    // root, which deletes its online-only placeholders, and the rest is deleted here.
    if (ownScratch) {
        send(client.channel, "unmountMirror", "{\"mountPath\":\"" + root + "\"}");
        // The unregistration goes on in the background and deletes placeholders meanwhile, which
        // ends a deletion that meets one gone: it is tried again until the folder is gone.
        std::error_code error;
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (std::filesystem::remove_all(scratch, error) == static_cast<std::uintmax_t>(-1) &&
               Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (std::filesystem::exists(scratch)) std::fprintf(stderr, "could not delete %s\n", scratch.c_str());
    }
    _exit(0);
}
