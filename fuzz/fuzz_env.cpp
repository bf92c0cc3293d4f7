#include "fuzz_env.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

namespace nimbrel::fuzz {

namespace {

constexpr char kFolderPrefix[] = "nimbrel-fuzz-";

std::filesystem::path& runFolder() {
    static std::filesystem::path folder;
    return folder;
}

void removeRunFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(runFolder(), ignored);
}

}  // namespace

void removePlatformFoldersAtExit() {
    const char* home = std::getenv("NIMBREL_PLATFORM_HOME");
    if (!home || !runFolder().empty()) return;
    const std::filesystem::path folder = std::filesystem::path(home).parent_path();
    // Only a folder this file made: never one a caller named.
    if (folder.filename().string().rfind(kFolderPrefix, 0) != 0) return;
    runFolder() = folder;
    atexit(removeRunFolder);
}

void useFreshPlatformFolders() {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(kFolderPrefix) + "XXXXXX")).string();
    if (!mkdtemp(pattern.data())) abort();
    for (const char* name : {"home", "run", "tmp"}) {
        const std::filesystem::path folder = std::filesystem::path(pattern) / name;
        std::filesystem::create_directory(folder);
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    }
    setenv("NIMBREL_PLATFORM_HOME", (pattern + "/home").c_str(), 1);
    setenv("NIMBREL_RUNTIME_DIR", (pattern + "/run").c_str(), 1);
    setenv("TMPDIR", (pattern + "/tmp").c_str(), 1);
    // No target mounts anything; without this every file call would first look for the filter
    // service, which the fuzz build does not have.
    setenv("NIMBREL_CFD", "off", 1);
    removePlatformFoldersAtExit();
}

std::set<long> threadIds() {
    std::set<long> ids;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error))
        ids.insert(std::stol(entry.path().filename().string()));
    return ids;
}

void awaitThreadsStartedSince(const std::set<long>& before) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        const std::set<long> now = threadIds();
        const bool noNewcomer = std::includes(before.begin(), before.end(), now.begin(), now.end());
        if (noNewcomer || std::chrono::steady_clock::now() > deadline) return;
        usleep(200);
    }
}

}  // namespace nimbrel::fuzz
