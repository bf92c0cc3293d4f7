// Free up space from the context menu, end to end: 11 000 files are on the device in a sync-disk
// mount (copies of the reference cloud's files, made placeholders when the cloud's tree is
// pushed), then "FreeUpSpace" frees a folder of 1 000 files (the anchor) and one of 10 000 (the
// figure). Each free-up must take one "setReleaseSpace" round trip and one "pushFreeUpSpace" per
// file, with one folder refresh per distinct folder; its time should grow with the file count, so
// the ratio should be near 10.
//
// Release build, 2 cores shared with other builds and tests (load average about 30): set-up
// 143 s; anchor 1 000 files 20.9 s, figure 10 000 files 182.6 s (18 ms a file: 117 s unpinning
// and dehydrating before the one setReleaseSpace, 65 s for the 10 000 pushFreeUpSpace), ratio
// 8.74; one setReleaseSpace each, 12 and 102 SHCNE_UPDATEDIR for 12 and 102 distinct folders.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_scratch.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

std::string g_bin;
std::string g_work;

pid_t spawn(const std::vector<std::string>& args, const std::string& output) {
    // The child's freopen would write out what this process still holds.
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    std::freopen(output.c_str(), "w", stdout);
    std::freopen((output + ".err").c_str(), "w", stderr);
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

int run(const std::vector<std::string>& args) {
    int status = 0;
    waitpid(spawn(args, g_work + "/command.out"), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::size_t occurrences(const std::string& text, const std::string& fragment) {
    std::size_t count = 0;
    for (auto at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1)) ++count;
    return count;
}

// The client's output so far, read from where the last call stopped so that polling stays cheap.
const std::string& clientOutput() {
    static std::ifstream stream;
    static std::string text;
    if (!stream.is_open()) stream.open(g_work + "/client.out", std::ios::binary);
    stream.clear();
    text.append(std::istreambuf_iterator<char>(stream), {});
    return text;
}

// Polls the client's output until `fragment` shows `count` times; false after half an hour.
bool waitForClient(const std::string& fragment, std::size_t count) {
    const auto deadline = Clock::now() + std::chrono::minutes(30);
    while (occurrences(clientOutput(), fragment) < count) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The same files in the cloud and, already downloaded, in the mount folder.
void makeFiles(const std::string& top, int folders, int filesPerFolder) {
    for (const char* side : {"cloud", "mount"}) {
        for (int d = 0; d < folders; ++d) {
            const fs::path folder = fs::path(g_work) / side / top / ("d" + std::to_string(d));
            fs::create_directories(folder);
            for (int f = 0; f < filesPerFolder; ++f) {
                std::ofstream(folder / ("f" + std::to_string(f) + ".txt"))
                    << std::string(4096, static_cast<char>('a' + f % 26));
            }
        }
    }
}

long long wallMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Folder refreshes written to the shell journal since `sinceMs`.
std::size_t folderRefreshesSince(long long sinceMs) {
    std::istringstream lines(slurp(g_work + "/home/shell/journal.jsonl"));
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find("\"timeMs\":");
        if (at != std::string::npos && std::atoll(line.c_str() + at + 9) >= sinceMs &&
            line.find("\"eventNames\":\"SHCNE_UPDATEDIR\"") != std::string::npos) {
            ++count;
        }
    }
    return count;
}

struct FreeUp {
    double ms;
    std::size_t releaseRequests;
    std::size_t refreshes;
};

FreeUp freeUp(const std::string& top, std::size_t files) {
    const std::size_t before = occurrences(clientOutput(), "request setReleaseSpace");
    const long long since = wallMs();
    const auto start = Clock::now();
    run({g_bin + "/nimbrel-menu", "--mode", "1", "run", "FreeUpSpace", g_work + "/mount/" + top});
    const std::string done =
        "pushFreeUpSpace sent for " + std::to_string(files) + " files, " + std::to_string(files) + " answered S_OK";
    if (!waitForClient(done, 1)) std::printf("free-up of %s did not finish\n", top.c_str());
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    // The menu's refreshes come right after the release request; give them a moment to land.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return {ms, occurrences(clientOutput(), "request setReleaseSpace") - before, folderRefreshesSince(since)};
}

}  // namespace

int main() {
    g_bin = fs::canonical("/proc/self/exe").parent_path().string();
    g_work = makeScratchFolder("nimbrel-free-up-bench");
    if (g_work.empty()) {
        std::perror("free_up_bench: no scratch folder under TMPDIR");
        return 1;
    }
    for (const char* folder : {"home", "run", "mount"}) fs::create_directories(g_work + "/" + folder);
    chmod((g_work + "/home").c_str(), 0700);
    chmod((g_work + "/run").c_str(), 0700);
    setenv("NIMBREL_PLATFORM_HOME", (g_work + "/home").c_str(), 1);
    setenv("NIMBREL_RUNTIME_DIR", (g_work + "/run").c_str(), 1);
    setenv("NIMBREL_CFD_OWNER", std::to_string(getpid()).c_str(), 1);
    // Only the server touches the mount folder here, so no filter is put between it and others.
    setenv("NIMBREL_CFD", "off", 1);
    makeFiles("small", 10, 100);
    makeFiles("big", 100, 100);

    const pid_t client = spawn({g_bin + "/nimbrel-mainclient", "--mode", "1", "serve", "--cloud", g_work + "/cloud",
                                "--mount", g_work + "/mount", "--poll-ms", "600000"},
                               g_work + "/client.out");
    // The server ends itself when it finds no client, so the client comes first.
    waitForClient("serving mode 1", 1);
    const auto pushStart = Clock::now();
    const pid_t server = spawn({g_bin + "/RoziDavidoVodido"}, g_work + "/server.out");
    if (!waitForClient("pushed ", 1)) std::printf("the cloud was not pushed\n");
    std::printf("set-up: 11112 items pushed, the local copies made placeholders, in %.0f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - pushStart).count());

    const FreeUp anchor = freeUp("small", 1000);
    const FreeUp figure = freeUp("big", 10000);
    std::printf(
        "anchor: free-up of 1000 files in 10 folders: %.0f ms (%.0f us a file), %zu setReleaseSpace, "
        "%zu SHCNE_UPDATEDIR for 12 distinct folders\n",
        anchor.ms, anchor.ms * 1000 / 1000, anchor.releaseRequests, anchor.refreshes);
    std::printf(
        "figure: free-up of 10000 files in 100 folders: %.0f ms (%.0f us a file), %zu setReleaseSpace, "
        "%zu SHCNE_UPDATEDIR for 102 distinct folders\n",
        figure.ms, figure.ms * 1000 / 10000, figure.releaseRequests, figure.refreshes);
    std::printf("ratio figure/anchor: %.2f (10 files for every one of the anchor)\n", figure.ms / anchor.ms);

    std::printf("load average during the run: %s", slurp("/proc/loadavg").c_str());
    // The client would finish its ten-minute poll before it noticed a polite stop.
    kill(server, SIGKILL);
    kill(client, SIGKILL);
    waitpid(server, nullptr, 0);
    waitpid(client, nullptr, 0);
    std::error_code ignored;
    fs::remove_all(g_work, ignored);
    return 0;
}
