// Every test case gets fresh, empty NIMBREL_PLATFORM_HOME, NIMBREL_RUNTIME_DIR and TMPDIR folders
// and a fault table of its own, and what it changes in the environment goes back when it ends, so
// no registry, cloud-files store, socket, lock, temporary file, injected fault or variable leaks
// between tests or into the user's own state.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/fault_injection.h"
#include "support/test_env.h"

extern char** environ;

namespace {

using Environment = std::map<std::string, std::string>;

Environment currentEnvironment() {
    Environment variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        const auto eq = text.find('=');
        if (eq != std::string::npos) variables.emplace(text.substr(0, eq), text.substr(eq + 1));
    }
    return variables;
}

void restoreEnvironment(const Environment& saved) {
    for (const auto& [name, value] : currentEnvironment()) {
        if (!saved.count(name)) unsetenv(name.c_str());
    }
    for (const auto& [name, value] : saved) {
        const char* now = getenv(name.c_str());
        if (!now || value != now) setenv(name.c_str(), value.c_str(), 1);
    }
}

// The runtime folder a test kept for the rest of the process (see keepRuntimeDirForProcess).
std::filesystem::path& keptRuntimeDir() {
    static std::filesystem::path dir;
    return dir;
}

// Makes a scratch folder below `parent` with empty home, runtime and temporary folders, puts them
// into the environment with a fault table of its own, and answers the scratch folder.
std::filesystem::path useFreshFolders(const std::filesystem::path& parent) {
    std::string pattern = (parent / "nimbrel-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    const std::filesystem::path scratch = pattern;
    std::filesystem::create_directories(scratch / "home");
    std::filesystem::create_directories(scratch / "tmp");
    const std::filesystem::path& kept = keptRuntimeDir();
    if (kept.empty()) std::filesystem::create_directories(scratch / "run");
    setenv("NIMBREL_PLATFORM_HOME", (scratch / "home").c_str(), 1);
    setenv("NIMBREL_RUNTIME_DIR", (kept.empty() ? scratch / "run" : kept).c_str(), 1);
    setenv("TMPDIR", (scratch / "tmp").c_str(), 1);
    // A registered root would get a filter service and a FUSE mount that outlive the test; the
    // tests of the filter itself turn it on and take it down.
    setenv("NIMBREL_CFD", "off", 1);
    // A service a test does start ends with the test's process, even a killed one.
    setenv("NIMBREL_CFD_OWNER", std::to_string(getpid()).c_str(), 1);
    nimbrel::platform::faults::clear();
    nimbrel::platform::faults::resetCallCounts();
    return scratch;
}

class FreshPlatformFolders : public testing::EmptyTestEventListener {
public:
    // The temporary folder the run started with: later tests must not nest in an earlier one's.
    explicit FreshPlatformFolders(std::filesystem::path systemTemp) : systemTemp_(std::move(systemTemp)) {}

    void OnTestStart(const testing::TestInfo&) override {
        scratch_ = useFreshFolders(systemTemp_);
        startEnvironment_ = currentEnvironment();
    }

    // Back to the test's own folders, not the user's: threads of the test that still wind down
    // must not reach the user's state.
    void OnTestEnd(const testing::TestInfo& info) override {
        restoreEnvironment(startEnvironment_);
        if (!info.result() || !info.result()->Passed()) return;
        // The kept runtime folder is still in use: its scratch folder goes when the process is done.
        if (keptRuntimeDir().parent_path() == scratch_) {
            keptScratch_ = scratch_;
            return;
        }
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }

    // Only after a passed run: a listener that lost its peer may still end the process, which
    // must not hide a failure's exit code.
    void OnTestProgramEnd(const testing::UnitTest& run) override {
        std::error_code ignored;
        if (run.Passed() && !keptScratch_.empty()) std::filesystem::remove_all(keptScratch_, ignored);
    }

private:
    std::filesystem::path systemTemp_;
    std::filesystem::path scratch_;
    std::filesystem::path keptScratch_;
    Environment startEnvironment_;
};

}  // namespace

void nimbrel::test::keepRuntimeDirForProcess() {
    if (keptRuntimeDir().empty()) keptRuntimeDir() = runtimeDir();
}

int main(int argc, char** argv) {
    testing::InitGoogleMock(&argc, argv);
    // Death tests fork; "threadsafe" re-executes the binary so that threads started by the code
    // under test never leave a forked child in a broken state.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child of a death test runs its test again up to the statement, and sees no test events:
    // it gets folders of its own below the parent test's scratch space, which goes with that, so
    // that it never takes over what the parent's test made.
    if (!GTEST_FLAG_GET(internal_run_death_test).empty()) {
        useFreshFolders(std::filesystem::path(nimbrel::test::platformHome()).parent_path());
    }
    testing::UnitTest::GetInstance()->listeners().Append(
        new FreshPlatformFolders(std::filesystem::temp_directory_path()));
    return RUN_ALL_TESTS();
}
