// The export of libnimbrel.so, called in this process as the host executable would call it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "suite/logbridge/log_capture.h"
#include "suite/logbridge/spdlog_bridge.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

bool pidLogExists(const fs::path& logRoot) {
    std::error_code error;
    if (!fs::exists(logRoot, error)) return false;
    const std::string suffix = "-" + std::to_string(getpid()) + ".log";
    for (const auto& entry : fs::recursive_directory_iterator(logRoot, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            return true;
        }
    }
    return false;
}

TEST(NimbrelEntryTest, OnlyTheEntryIsExportedAndAnUnknownModeReturnsMinusOneWithoutLogging) {
    void* library = dlopen((nimbrel::test::appDir() + "/libnimbrel.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    using Entry = int (*)(int, int, char**);
    auto entry = reinterpret_cast<Entry>(dlsym(library, "NimbrelEntry"));
    ASSERT_NE(entry, nullptr) << dlerror();
    // Nothing but the entry is exported.
    EXPECT_EQ(dlsym(library, "_Z16createSyncConfigi"), nullptr);
    EXPECT_EQ(dlsym(library, "_Z15InstallCrashRptRK7QStringb"), nullptr);

    LogCapture capture;
    char program[] = "RoziDavidoVodido";
    char* argv[] = {program, nullptr};
    EXPECT_EQ(entry(2, 1, argv), -1);
    EXPECT_EQ(entry(-1, 1, argv), -1);

    EXPECT_TRUE(capture.lines().empty());
    // The log is opened once per process; that it can still be opened proves nobody opened it. A
    // death test's process runs the calls above again, and is the only one that opens the log.
    EXPECT_EXIT(
        {
            const std::string scratch = nimbrel::test::makeScratchDir("probe-log");
            std::cerr << "log opens "
                      << SpdlogBridge::getInstance().initialize(scratch, "probe", 1024, 1, "%v", 2, true)
                      << ", pid log " << pidLogExists(fs::read_symlink("/proc/self/exe").parent_path() / "log");
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "log opens 1, pid log 0");
}

}  // namespace
