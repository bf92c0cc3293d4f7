#include "platform/win32/child_role.h"

#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <thread>

namespace nimbrel::test::win32 {

namespace {

std::string selfPath() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

std::unique_ptr<ChildProcess> startRole(const std::string& name, std::map<std::string, std::string> env) {
    ChildProcess::Options options;
    options.env = std::move(env);
    options.env["WIN32_TEST_RUNTIME_DIR"] = runtimeDir();
    options.env["WIN32_TEST_PLATFORM_HOME"] = platformHome();
    return std::make_unique<ChildProcess>(
        selfPath(),
        std::vector<std::string>{"--gtest_also_run_disabled_tests", "--gtest_filter=Win32ChildRole.DISABLED_" + name},
        options);
}

void joinParentFolders() {
    ::setenv("NIMBREL_RUNTIME_DIR", roleEnv("WIN32_TEST_RUNTIME_DIR").c_str(), 1);
    ::setenv("NIMBREL_PLATFORM_HOME", roleEnv("WIN32_TEST_PLATFORM_HOME").c_str(), 1);
}

void stayUntilEnded() { std::this_thread::sleep_for(std::chrono::seconds(100)); }

std::string roleEnv(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace nimbrel::test::win32
