// Hard-linked files that the filter refuses to convert are copied apart and converted in the
// background, keeping their security, times and attributes, and retried while busy or short of space.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "cfapi/sync_root_fixture.h"
#include "platform/fault_injection.h"
#include "suite/logbridge/log_capture.h"
#include "support/test_env.h"

namespace faults = nimbrel::platform::faults;
namespace t = nimbrel::test;

namespace {

ULONGLONG ticks(const FILETIME& time) { return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

// The worker pauses 5 s between batches; a few rounds fit well inside this.
constexpr std::chrono::seconds kRepairWait{60};

class HardLinkRepairTest : public SyncRootTest {
protected:
    void SetUp() override {
        SyncRootTest::SetUp();
        makeFile("linked.txt", "shared");
        other_ = t::makeScratchDir("outside") + "/other";
        ASSERT_EQ(::link(host("linked.txt").c_str(), other_.c_str()), 0);
    }
    int convert() {
        return CfApiWrapper::convertToPlaceholder(win("linked.txt"), itemFor(win("linked.txt"), 1), 6, "id-h", {},
                                                  nullptr);
    }
    bool repaired() const { return CfApiWrapper::findPlaceholderInfo(win("linked.txt")).isValid(); }
    std::string acl(const std::string& path) const {
        return t::runCommand("/usr/bin/getfacl", {"--omit-header", "--absolute-names", path}).out;
    }
    std::string other_;
};

TEST_F(HardLinkRepairTest, TheFileBecomesThePushedPlaceholderWithItsMetadataAndTheOtherNameStaysOrdinary) {
    ASSERT_EQ(0, t::runCommand("/usr/bin/setfacl", {"-m", "u:4321:rw", host("linked.txt")}).exitCode);
    ASSERT_EQ(0, ::chmod(host("linked.txt").c_str(), 0640));
    if (::geteuid() == 0) {
        ASSERT_EQ(0, ::chown(host("linked.txt").c_str(), 4321, 4322));
    }
    std::wstring path = CfApiWrapper::toLongPath(win("linked.txt")).toStdWString();
    HANDLE file =
        CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    FILETIME created{0x11111100, 0x01d00000}, accessed{0x22222200, 0x01d50000}, written{0x33333300, 0x01d40000};
    ASSERT_TRUE(SetFileTime(file, &created, &accessed, &written));
    CloseHandle(file);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    struct stat before {};
    ::stat(host("linked.txt").c_str(), &before);
    std::string aclBefore = acl(host("linked.txt"));

    LogCapture capture;
    EXPECT_EQ(convert(), 1);
    EXPECT_EQ(convert(), 1);
    EXPECT_EQ(capture.count("enqueue hardlink placeholder repair, path:"), 1);
    EXPECT_EQ(capture.count("hardlink placeholder repair already queued, path:"), 1);
    ASSERT_TRUE(t::waitUntil([&] { return repaired(); }, kRepairWait));

    // Times first: reading the content below moves the access time.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(ticks(data.ftCreationTime), ticks(created));
    EXPECT_EQ(ticks(data.ftLastWriteTime), ticks(written));
    EXPECT_EQ(ticks(data.ftLastAccessTime), ticks(accessed));
    EXPECT_EQ(CfApiWrapper::findPlaceholderInfo(win("linked.txt")).identityText(), "id-h");
    // Content, separated names and no temporary file left: the end-to-end repair test sees those.
    struct stat after {};
    ::stat(host("linked.txt").c_str(), &after);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(acl(host("linked.txt")), aclBefore);
}

TEST_F(HardLinkRepairTest, AFullDiskAndABusyFileAreRetriedUntilTheyClear) {
    faults::add({"DiskFull", "", 1, HRESULT_FROM_WIN32(ERROR_DISK_FULL)});
    std::wstring path = CfApiWrapper::toLongPath(win("linked.txt")).toStdWString();
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    LogCapture capture;
    EXPECT_EQ(convert(), 1);
    ASSERT_TRUE(t::waitUntil([&] { return capture.contains("replace hardlink source failed, path:"); }, kRepairWait));
    EXPECT_EQ(capture.count("space not enough for hardlink repair, path:"), 1);
    EXPECT_FALSE(repaired());
    EXPECT_FALSE(std::filesystem::exists(host(".linked.txt.hardlink_repair.tmp")));
    CloseHandle(held);
    ASSERT_TRUE(t::waitUntil([&] { return repaired(); }, kRepairWait));
    EXPECT_EQ(t::readFile(host("linked.txt")), "shared");
    EXPECT_EQ(capture.count("requeue hardlink placeholder repair, path:"), 2);
}

}  // namespace
