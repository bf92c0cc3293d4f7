// Every test case gets fresh, empty NIMBREL_PLATFORM_HOME, NIMBREL_RUNTIME_DIR and TMPDIR folders, so
// no registry, cloud-files store, socket, lock or temporary file leaks between tests or into the
// user's own state.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

class FreshPlatformFolders : public testing::EmptyTestEventListener {
public:
    // The temporary folder the run started with: later tests must not nest in an earlier one's.
    explicit FreshPlatformFolders(std::filesystem::path systemTemp) : systemTemp_(std::move(systemTemp)) {}

    void OnTestStart(const testing::TestInfo&) override {
        std::string pattern = (systemTemp_ / "nimbrel-test-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        if (!made) std::abort();
        scratch_ = made;
        std::filesystem::create_directories(scratch_ / "home");
        std::filesystem::create_directories(scratch_ / "run");
        std::filesystem::create_directories(scratch_ / "tmp");
        setenv("NIMBREL_PLATFORM_HOME", (scratch_ / "home").c_str(), 1);
        setenv("NIMBREL_RUNTIME_DIR", (scratch_ / "run").c_str(), 1);
        setenv("TMPDIR", (scratch_ / "tmp").c_str(), 1);
        // A registered root would get a filter service and a FUSE mount that outlive the test; the
        // tests of the filter itself turn it on and take it down.
        setenv("NIMBREL_CFD", "off", 1);
        // A service a test does start ends with the test's process, even a killed one.
        setenv("NIMBREL_CFD_OWNER", std::to_string(getpid()).c_str(), 1);
    }

    void OnTestEnd(const testing::TestInfo& info) override {
        if (info.result() && info.result()->Passed()) {
            std::error_code ignored;
            std::filesystem::remove_all(scratch_, ignored);
        }
    }

private:
    std::filesystem::path systemTemp_;
    std::filesystem::path scratch_;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleMock(&argc, argv);
    // Death tests fork; "threadsafe" re-executes the binary so that threads started by the code
    // under test never leave a forked child in a broken state.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing::UnitTest::GetInstance()->listeners().Append(
        new FreshPlatformFolders(std::filesystem::temp_directory_path()));
    return RUN_ALL_TESTS();
}
