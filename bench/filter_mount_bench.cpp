// The file-system filter as programs meet it, in a release build, with the reference main client as
// the cloud and the mode 1 server as the provider. Three figures, each beside an anchor measured in
// the same run:
//   cold cat of a dehydrated 256 MiB placeholder through the mount against curl of its URL (and, on
//   another placeholder of the same bytes, the fetch and the read-back a cold read is made of);
//   warm cat of the hydrated file through the mount against cat of the covered file (beside them the
//   processor time each cat took, and the service's, which reads served from the kernel's cache skip);
//   find over 100 000 placeholders through the mount against the same find on the covered folder.
// Each run starts from a fresh cloud and sync root; with more than one, the median ratios close the output.
// Usage: filter_mount_bench [MiB] [placeholders] [runs]   (256, 100000 and 1 by default)
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_scratch.h"
#include "cf_filter_service.h"
#include "platform/cfapi.h"
#include "platform/platform_paths.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWarmRounds = 5;

std::string appDir() {
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    std::string self(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    return self.substr(0, self.rfind('/'));
}

// Runs a shell command; the seconds it took, or a negative value when it failed.
double timed(const std::string& command) {
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return status == 0 ? seconds : -1;
}

std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof(buffer), pipe)) text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

pid_t startLogged(const std::string& command, const std::string& log) {
    pid_t child = ::fork();
    if (child == 0) {
        int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return child;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(120)) {
    for (const auto end = Clock::now() + limit; Clock::now() < end;) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The processor time the children that ended so far took, in seconds.
double childrenCpu() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The processor time the filter service took so far, in seconds; reads that reach it show here,
// those the kernel serves from its cache do not.
double serviceCpu() {
    const std::string stat = readAll("/proc/" + std::to_string(nimbrel::platform::cf::filterServicePid()) + "/stat");
    const auto name = stat.rfind(')');
    if (name == std::string::npos) return 0;
    std::istringstream fields(stat.substr(name + 1));
    std::string field;
    for (int i = 3; i < 14; ++i) fields >> field;  // the state to the major faults of its children
    double user = 0, system = 0;
    fields >> user >> system;
    return (user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

struct Warm {
    double seconds = -1;  // the median time, negative when a run failed
    double cpu = 0;       // the median processor time
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A warm cat of 256 MiB lasts a few hundredths of a second, where a moment of a core taken by another
// process counts as much as the read itself: both commands run in turns, and each figure is the
// median of its rounds.
std::pair<Warm, Warm> warmMedians(const std::string& first, const std::string& second, int rounds) {
    std::vector<double> seconds[2], cpu[2];
    const std::string* commands[2] = {&first, &second};
    for (int round = 0; round < rounds; ++round) {
        for (int which = 0; which < 2; ++which) {
            const double before = childrenCpu();
            const double took = timed(*commands[which]);
            if (took < 0) return {};
            seconds[which].push_back(took);
            cpu[which].push_back(childrenCpu() - before);
        }
    }
    return {{median(seconds[0]), median(cpu[0])}, {median(seconds[1]), median(cpu[1])}};
}

void writeRandom(const std::string& path, std::size_t mib) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 random(mib);
    std::vector<std::uint64_t> block((1u << 20) / 8);
    for (std::size_t i = 0; i < mib; ++i) {
        for (auto& word : block) word = random();
        out.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
    }
}

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The ratios of every run, by figure.
std::vector<std::pair<std::string, std::vector<double>>> ratios;

void report(const std::string& what, double figure, double anchor, const char* unit, const std::string& commands) {
    std::printf("%s: %.3f %s; anchor %.3f %s; ratio %.2f\n  %s\n", what.c_str(), figure, unit, anchor, unit,
                figure / anchor, commands.c_str());
    std::fflush(stdout);
    auto found = std::find_if(ratios.begin(), ratios.end(), [&](const auto& entry) { return entry.first == what; });
    if (found == ratios.end()) found = ratios.insert(ratios.end(), {what, {}});
    found->second.push_back(figure / anchor);
}

// The folder under the filter mount at `root`, as a /proc path other processes can use. It ends in
// "/": find does not follow a starting point that is a symbolic link, which the /proc entry is.
std::string coveredPath(const std::string& root) {
    int fd = -1;
    if (!nimbrel::platform::cf::filterServiceCommand("covered " + root, &fd) || fd < 0) return {};
    return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(fd) + "/";
}

bool measureCat(const std::string& work, std::size_t mib) {
    const std::string app = appDir(), cloud = work + "/cloud", drive = work + "/drive";
    ::mkdir(cloud.c_str(), 0700);
    ::mkdir(drive.c_str(), 0700);
    writeRandom(cloud + "/big.bin", mib);
    const std::string client = app + "/nimbrel-mainclient --mode 1 ";
    const pid_t clientPid = startLogged(client + "serve --cloud " + cloud + " --mount " + drive, work + "/client.log");
    std::string url;
    waitFor([&] {
        const std::string log = readAll(work + "/client.log");
        const auto at = log.find("content server on ");
        if (at != std::string::npos) url = log.substr(at + 18, log.find('\n', at) - at - 18);
        return !url.empty();
    });
    const pid_t serverPid = startLogged(app + "/RoziDavidoVodido", work + "/server.log");
    // Asked until the server listens: the refusals before that are expected and not shown.
    const bool mounted = waitFor([&] {
        return output(client + "send mountMirror '{\"mountPath\":\"" + drive + "\"}' 2>/dev/null").find("S_OK") !=
               std::string::npos;
    });
    // probe.bin, the same bytes, shows where a cold read spends its time: the fetch, then the read-back.
    ::link((cloud + "/big.bin").c_str(), (cloud + "/probe.bin").c_str());
    auto entry = [&](const std::string& name) {
        return "{\"id\":\"" + name + "\",\"filePath\":\"" + drive + "\",\"fileName\":\"" + name +
               "\",\"type\":1,\"isVirtual\":1,\"size\":" + std::to_string(mib << 20) +
               ",\"lCreateTime\":1600000000,\"lUpdateTime\":1600000100,\"lAccessTime\":1600000200}";
    };
    const std::string record = "{\"fileInfo\":[" + entry("big.bin") + "," + entry("probe.bin") + "]}";
    const bool pushed =
        mounted && output(client + "send pushFileSystem '" + record + "'").find("S_OK") != std::string::npos;
    const std::string covered = pushed ? coveredPath(drive) : std::string();
    bool ok = !url.empty() && !covered.empty();
    if (ok) {
        const double curl = timed("curl -sf -o " + work + "/curl.out " + url + "big.bin");
        const double cold = timed("cat " + drive + "/big.bin > " + work + "/cat.out");
        ok = curl > 0 && cold > 0 && timed("cmp -s " + work + "/cat.out " + cloud + "/big.bin") >= 0;
        if (ok) {
            const double mb = static_cast<double>(mib) * 1.048576;
            report("cold cat through the mount (MB/s)", mb / cold, mb / curl, "MB/s",
                   "cat DRIVE/big.bin > FILE, anchor: curl -sf -o FILE URL (run just before)");
            const double fetch = timed("head -c 1 " + drive + "/probe.bin > /dev/null");
            const double readBack = timed("cat " + drive + "/probe.bin > /dev/null");
            std::printf(
                "  where a cold cat goes: fetch %.3f s (head -c 1 of probe.bin), read-back %.3f s (cat of "
                "probe.bin once local, > /dev/null); cold cat %.3f s, curl %.3f s\n",
                fetch, readBack, cold, curl);
            const std::string throughMount = "cat " + drive + "/big.bin > /dev/null";
            const std::string direct = "cat " + covered + "big.bin > /dev/null";
            timed(throughMount);
            timed(direct);
            const double serviceBefore = serviceCpu();
            const auto [warm, anchor] = warmMedians(throughMount, direct, kWarmRounds);
            const double service = serviceCpu() - serviceBefore;
            ok = warm.seconds > 0 && anchor.seconds > 0;
            if (ok) {
                report("warm cat through the mount (MB/s)", mb / warm.seconds, mb / anchor.seconds, "MB/s",
                       "cat DRIVE/big.bin > /dev/null, anchor: cat COVERED/big.bin > /dev/null (after one of "
                       "each, medians of " +
                           std::to_string(kWarmRounds) + " taking turns)");
                std::printf(
                    "  a warm cat takes %.1f ms of processor time through the mount, %.1f ms on the covered file; "
                    "the service took %.0f ms over the %d cats through the mount\n",
                    warm.cpu * 1e3, anchor.cpu * 1e3, service * 1e3, kWarmRounds);
            }
        }
    } else {
        std::fprintf(stderr, "filter_mount_bench: the server did not project the file (see %s)\n", work.c_str());
    }
    ::kill(serverPid, SIGTERM);
    ::kill(clientPid, SIGTERM);
    ::waitpid(serverPid, nullptr, 0);
    ::waitpid(clientPid, nullptr, 0);
    return ok;
}

bool measureFind(const std::string& work, int count) {
    const std::string root = work + "/many";
    ::mkdir(root.c_str(), 0700);
    CF_SYNC_REGISTRATION registration{};
    registration.StructSize = sizeof(registration);
    registration.ProviderName = L"FilterBench";
    registration.ProviderVersion = L"1.0";
    CF_SYNC_POLICIES policies{};
    policies.StructSize = sizeof(policies);
    policies.Hydration.Primary = CF_HYDRATION_POLICY_FULL;
    policies.Population.Primary = CF_POPULATION_POLICY_ALWAYS_FULL;
    if (FAILED(CfRegisterSyncRoot(wide(root).c_str(), &registration, &policies, CF_REGISTER_FLAG_NONE))) return false;
    constexpr int kPerFolder = 1000;
    const std::string identity = "bench";
    for (int folder = 0; folder * kPerFolder < count; ++folder) {
        // The last folder holds what is left, so that the root holds `count` placeholders.
        const int inFolder = std::min(kPerFolder, count - folder * kPerFolder);
        const std::string path = root + "/d" + std::to_string(folder);
        ::mkdir(path.c_str(), 0700);
        std::vector<std::wstring> names;
        std::vector<CF_PLACEHOLDER_CREATE_INFO> entries(static_cast<std::size_t>(inFolder));
        for (int i = 0; i < inFolder; ++i) names.push_back(L"f" + std::to_wstring(i) + L".bin");
        for (int i = 0; i < inFolder; ++i) {
            auto& entry = entries[static_cast<std::size_t>(i)];
            entry.RelativeFileName = names[static_cast<std::size_t>(i)].c_str();
            entry.FsMetadata.FileSize.QuadPart = 5000;
            entry.FsMetadata.BasicInfo.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            entry.FileIdentity = identity.data();
            entry.FileIdentityLength = static_cast<DWORD>(identity.size());
        }
        if (FAILED(CfCreatePlaceholders(wide(path).c_str(), entries.data(), inFolder, CF_CREATE_FLAG_NONE, nullptr)))
            return false;
    }
    const std::string covered = coveredPath(root);
    if (covered.empty()) return false;
    // Each find counts what it found: a find that saw fewer files measured something else.
    const std::string counted = work + "/found";
    auto find = [&](const std::string& folder) {
        const double seconds = timed("find " + folder + " -type f -size +1k | wc -l > " + counted);
        return std::atoi(readAll(counted).c_str()) == count ? seconds : -1;
    };
    find(root);
    find(covered);
    const double mounted = find(root);
    const double direct = find(covered);
    if (mounted <= 0 || direct <= 0) {
        std::fprintf(stderr, "filter_mount_bench: a find did not see the %d placeholders\n", count);
        return false;
    }
    report("find over " + std::to_string(count) + " placeholders (entries/s)", count / mounted, count / direct,
           "entries/s", "find DRIVE -type f -size +1k, anchor: the same on COVERED (second runs)");
    return true;
}

// One run in a fresh temporary folder, removed when the run succeeded.
bool run(std::size_t mib, int count) {
    const std::string work = ::access("/dev/fuse", R_OK | W_OK) == 0 ? makeScratchFolder("nimbrel-filter-bench") : "";
    if (work.empty()) {
        std::fprintf(stderr, "filter_mount_bench: needs /dev/fuse and a temporary folder\n");
        return false;
    }
    ::mkdir((work + "/home").c_str(), 0700);
    ::mkdir((work + "/run").c_str(), 0700);
    ::setenv("NIMBREL_PLATFORM_HOME", (work + "/home").c_str(), 1);
    ::setenv("NIMBREL_RUNTIME_DIR", (work + "/run").c_str(), 1);
    // The service ends with this process, whatever happens to it.
    ::setenv("NIMBREL_CFD_OWNER", std::to_string(::getpid()).c_str(), 1);
    const bool ok = measureCat(work, mib) && measureFind(work, count);
    nimbrel::platform::cf::filterServiceCommand("stop");
    if (ok) std::system(("rm -rf " + work).c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int count = argc > 2 ? std::atoi(argv[2]) : 100000;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    for (int i = 0; i < runs; ++i) {
        if (runs > 1) std::printf("run %d of %d\n", i + 1, runs);
        std::fflush(stdout);
        if (!run(mib, count)) return 1;
    }
    if (runs == 1) return 0;
    for (auto& [what, values] : ratios) {
        std::sort(values.begin(), values.end());
        std::printf("%s: median ratio %.2f of %zu runs\n", what.c_str(), values[values.size() / 2], values.size());
    }
    return 0;
}
