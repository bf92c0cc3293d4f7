// Start-up of the two servers as a user would run them: from a folder of their own, each beside its
// mode's main client, side by side, twice, and crashing.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDateTime>
#include <filesystem>
#include <regex>
#include <string>

#include "ipc_session.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;
using nimbrel::test::ChildProcess;
using nimbrel::test::contains;
using nimbrel::test::IpcSession;
using nimbrel::test::readFile;
using nimbrel::test::runCommand;
using nimbrel::test::waitUntil;
using nimbrel::test::writeFile;

// The value of `key` in the settings file's text, empty when absent.
std::string settingsValue(const std::string& text, const std::string& key) {
    std::smatch match;
    std::regex line("(^|\n)" + key + "=([^\n]*)");
    return std::regex_search(text, match, line) ? match[2].str() : std::string();
}

// Every file below `folder` whose text contains `fragment`.
std::vector<fs::path> filesContaining(const fs::path& folder, const std::string& fragment) {
    std::vector<fs::path> found;
    std::error_code error;
    if (!fs::exists(folder, error)) return found;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
        if (entry.is_regular_file(error) && contains(readFile(entry.path().string()), fragment)) {
            found.push_back(entry.path());
        }
    }
    return found;
}

bool hasFileNamed(const fs::path& folder, const std::regex& name) {
    std::error_code error;
    if (!fs::exists(folder, error)) return false;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
        if (std::regex_match(entry.path().filename().string(), name)) return true;
    }
    return false;
}

class HostStartTest : public testing::Test {
protected:
    std::string settingsText() const { return readFile(app_ + "/config/settings.ini"); }
    fs::path outbox() const { return fs::path(nimbrel::test::platformHome()) / "crash-outbox"; }

    // Waits until the sync-disk server has installed crash reporting, which start-up logs.
    bool waitForCrashReporting(bool sendNow) {
        const std::string line = std::string("send:") + (sendNow ? "true" : "false");
        return waitUntil([&] { return contains(syncDisk_.serverLog(), line); }, std::chrono::seconds(60));
    }

    // Waits until start-up has written the crash-report interval and time under the mode's key prefix.
    bool waitForCrashSettings(const std::string& prefix) {
        return waitUntil(
            [&] {
                auto text = settingsText();
                return settingsValue(text, prefix + "SendMountCrashRptMinIntervel") == "216" &&
                       !settingsValue(text, prefix + "MountCrashRptTime").empty();
            },
            std::chrono::seconds(60));
    }

    std::string app_ = nimbrel::test::makeAppFolder();
    IpcSession syncDisk_{1, app_};
};

TEST_F(HostStartTest, SyncDiskServerStartsOnceAndRunsBesideTheMountedSpace) {
    ASSERT_TRUE(syncDisk_.startAnnounced()) << syncDisk_.client().out();
    ChildProcess& server = syncDisk_.server();
    ASSERT_TRUE(waitForCrashSettings("")) << settingsText() << server.err();

    std::regex mainEntry(
        R"(\[\d{8},\d{2}:\d{2}:\d{2}\.\d{3}\]\[info\]\[\d+\]\[nimbrel_entry\.cpp:430\] NimbrelEntry main_entry, )"
        R"(Client Name:Orvane, Version:8\.8\.0\.20260828\n)");
    EXPECT_TRUE(std::regex_search(syncDisk_.serverLog(), mainEntry)) << syncDisk_.serverLog();

    auto second = runCommand(app_ + "/RoziDavidoVodido", {});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_TRUE(server.running());

    IpcSession mountedSpace(0, app_);
    ASSERT_TRUE(mountedSpace.startAnnounced()) << mountedSpace.client().out();
    ChildProcess& mounted = mountedSpace.server();
    ASSERT_TRUE(waitForCrashSettings("mount__")) << settingsText() << mounted.err();
    EXPECT_TRUE(contains(mountedSpace.serverLog(), "main_entry, Client Name:Orvane"));
    EXPECT_TRUE(mounted.running());
    EXPECT_TRUE(server.running());
    EXPECT_EQ(settingsValue(settingsText(), "SendMountCrashRptMinIntervel"), "216");
}

TEST_F(HostStartTest, CrashLeavesAReportWithHeaderAndAttachments) {
    ASSERT_TRUE(syncDisk_.startAnnounced()) << syncDisk_.client().out();
    ChildProcess& server = syncDisk_.server();
    ASSERT_TRUE(waitForCrashReporting(true)) << syncDisk_.serverLog() << server.err();

    server.signal(SIGSEGV);
    ASSERT_TRUE(server.wait().has_value());

    const fs::path reports = fs::path(app_) / "crashlogs";
    auto headers = filesContaining(reports, "compiletime:  Sep 18 2026 16:59:48\r\nstarttime:  ");
    ASSERT_FALSE(headers.empty()) << "no report below " << reports;
    EXPECT_TRUE(contains(readFile(headers.front().string()), "\r\naccList:  "));
    const fs::path report = headers.front().parent_path();
    EXPECT_FALSE(filesContaining(report, "SendMountCrashRptMinIntervel=216").empty());
    EXPECT_FALSE(filesContaining(report, "main_entry, Client Name:Orvane").empty());
    EXPECT_TRUE(hasFileNamed(outbox(), std::regex(".*"))) << "a report that may be sent goes to the outbox";
}

TEST_F(HostStartTest, StartWithinTheIntervalKeepsReportsLocal) {
    const std::string armed = QDateTime::currentDateTime().addSecs(-100).toString(Qt::ISODate).toStdString();
    writeFile(app_ + "/config/settings.ini", "[General]\nMountCrashRptTime=" + armed + "\n");

    ASSERT_TRUE(syncDisk_.startAnnounced()) << syncDisk_.client().out();
    ChildProcess& server = syncDisk_.server();
    ASSERT_TRUE(waitForCrashReporting(false)) << syncDisk_.serverLog() << server.err();
    EXPECT_EQ(settingsValue(settingsText(), "MountCrashRptTime"), armed);
    EXPECT_EQ(settingsValue(settingsText(), "SendMountCrashRptMinIntervel"), "216");

    server.signal(SIGSEGV);
    ASSERT_TRUE(server.wait().has_value());
    EXPECT_FALSE(filesContaining(fs::path(app_) / "crashlogs", "compiletime:  ").empty());
    EXPECT_FALSE(hasFileNamed(outbox(), std::regex(".*")));
}

TEST_F(HostStartTest, SendingIsRearmedOnceTheIntervalHasPassed) {
    const std::string armed = QDateTime::currentDateTime().addSecs(-205).toString(Qt::ISODate).toStdString();
    writeFile(app_ + "/config/settings.ini", "[General]\nMountCrashRptTime=" + armed + "\n");

    ASSERT_TRUE(syncDisk_.startAnnounced()) << syncDisk_.client().out();
    ChildProcess& server = syncDisk_.server();
    ASSERT_TRUE(waitForCrashReporting(false)) << syncDisk_.serverLog() << server.err();
    ASSERT_TRUE(waitForCrashReporting(true)) << syncDisk_.serverLog();
    EXPECT_TRUE(waitUntil([&] { return settingsValue(settingsText(), "MountCrashRptTime") != armed; }));
    EXPECT_TRUE(server.running());
}

}  // namespace
