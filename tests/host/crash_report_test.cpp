#include "host/crash_report.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <atomic>

#include "host/sync_virtual_config.h"
#include "platform/crashrpt.h"
#include "suite/base/settings_singleton.h"
#include "suite/logbridge/log_capture.h"
#include "support/test_env.h"

namespace {

using nimbrel::test::waitUntil;

TEST(CrashReportVersionTest, CutsBeforeTheLastDotOrFallsBackWhenNothingPrecedesIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"8.8.0.20260828", "8.8.0"}, {"9.1", "9"},           {"1.2.3.", "1.2.3"},
        {"20260828", "6.0.0"},       {".20260828", "6.0.0"}, {"", "6.0.0"},
    };
    for (const auto& [full, cut] : cases) EXPECT_EQ(crashReportVersion(full), cut) << full;
}

TEST(CrashReportHeaderTest, CarriesBuildStartOsAndAccountsCutToItsBuffer) {
    EXPECT_EQ(crashReportHeader("2026-12-05 10:11:12", "Debian GNU/Linux 12", "ann;bob"),
              "compiletime:  Sep 18 2026 16:59:48\r\nstarttime:  2026-12-05 10:11:12\r\n"
              "OSVersion:  Debian GNU/Linux 12\r\naccList:  ann;bob");
    // A "false" account list is written empty.
    EXPECT_TRUE(crashReportHeader("t", "os", "false").endsWith("\r\naccList:  "));
    EXPECT_TRUE(crashReportHeader("t", "os", "").endsWith("\r\naccList:  "));
    QString header = crashReportHeader("t", "os", QString(5000, 'a'));
    EXPECT_EQ(header.size(), 1026);
    EXPECT_TRUE(header.startsWith("compiletime:  "));
}

TEST(CrashRptThrottleTest, SendsWhenNeverArmedOrOnceTheIntervalHasPassedAndWaitsForTheRestWithin) {
    auto never = crashRptThrottle(1764930000u, 4294967295u, 216);
    EXPECT_EQ(never.elapsed, 1764930001u);
    EXPECT_TRUE(never.sendNow());
    EXPECT_EQ(never.remainingSeconds(), 0u);

    auto within = crashRptThrottle(1764930100u, 1764930000u, 216);
    EXPECT_FALSE(within.sendNow());
    EXPECT_EQ(within.remainingSeconds(), 116u);
    EXPECT_FALSE(crashRptThrottle(1764930215u, 1764930000u, 216).sendNow());
    EXPECT_TRUE(crashRptThrottle(1764930216u, 1764930000u, 216).sendNow());
    // A clock set back wraps round to sending.
    EXPECT_TRUE(crashRptThrottle(1764930000u, 1764930050u, 216).sendNow());
}

// The server's record and a settings file of its own, as start-up leaves them.
class CrashReportingTest : public testing::Test {
protected:
    template <typename Record>
    struct InitialisedRecord : Record {
        explicit InitialisedRecord(int mode) { this->mode_ = mode; }
    };

    void SetUp() override {
        g_syncConfig = std::make_shared<InitialisedRecord<CZiduZuduConfig>>(1);
        const QString path = QString::fromStdString(nimbrel::test::makeScratchDir("app") + "/config/settings.ini");
        settings().openSettings(path, [](const QString& key) { return g_syncConfig->settingsKey(key); });
    }
    // The handler is the process's: a later test installs its own.
    void TearDown() override { crUninstall(); }

    static SettingsSingleton& settings() { return Singleton<SettingsSingleton>::instance(); }
};

TEST_F(CrashReportingTest, StartWithinTheIntervalRearmsAfterTheRemainingSeconds) {
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1764930000);
    const QDateTime later = start.addSecs(116);
    settings().setValue("MountCrashRptTime", start.addSecs(-100));
    LogCapture capture;
    // The re-arming thread outlives the call: what its clock touches is static.
    static std::atomic<long long> slept;
    slept = -1;
    CrashRptClock clock;
    clock.now = [=] { return slept < 0 ? start : later; };
    clock.sleep = [](std::chrono::seconds duration) { slept = duration.count(); };

    setUpCrashReporting("9.4.2.20270101", clock);
    EXPECT_TRUE(capture.contains("crash reporting installed, version:9.4.2, send:false"));
    // Re-arming names the build's own version, not the client's.
    EXPECT_TRUE(waitUntil([&] { return settings().getValue("MountCrashRptTime").toDateTime() == later; }));
    EXPECT_TRUE(capture.contains("crash reporting installed, version:8.8.0, send:true"));
    EXPECT_EQ(slept, 116);
}

TEST_F(CrashReportingTest, StoredIntervalIsHonoured) {
    settings().setValue("SendMountCrashRptMinIntervel", 50);
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1764930000);
    settings().setValue("MountCrashRptTime", now.addSecs(-60));
    setUpCrashReporting("8.8.0.20260828", {[=] { return now; }, {}});
    EXPECT_EQ(settings().getValue("MountCrashRptTime").toDateTime(), now);
    EXPECT_EQ(settings().getValue("SendMountCrashRptMinIntervel").toUInt(), 50u);
}

TEST_F(CrashReportingTest, FirstInstallationCreatesTheSettingsFileItAttaches) {
    ASSERT_FALSE(settings().exists());
    InstallCrashRpt("8.8.0", false);
    EXPECT_TRUE(settings().exists());
    EXPECT_EQ(settings().getValue("acclist", "absent").toString(), "");
}

TEST_F(CrashReportingTest, FailedInstallationIsLoggedAndLeavesTheLibraryFree) {
    // Reports that may be mailed need the outbox, which a plain file now blocks.
    nimbrel::test::writeFile(nimbrel::test::platformHome() + "/crash-outbox", "not a folder");
    LogCapture capture;
    InstallCrashRpt("8.8.0", true);
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 3);
    EXPECT_EQ(lines[0].text.rfind("[crash_report.cpp:324] InstallCrashRpt InstallCrashRpt install crashreport "
                                  "faild,err msg",
                                  0),
              0u)
        << lines[0].text;
    EXPECT_NE(lines[0].text.find("outbox"), std::string::npos) << lines[0].text;

    InstallCrashRpt("8.8.0", false);
    EXPECT_TRUE(capture.contains("crash reporting installed, version:8.8.0, send:false"));
}

}  // namespace
