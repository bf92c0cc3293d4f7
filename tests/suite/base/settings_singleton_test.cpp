#include "suite/base/settings_singleton.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QSettings>
#include <QTimeZone>
#include <filesystem>

#include "support/test_env.h"

namespace {

using nimbrel::test::ChildProcess;

QString mountMapping(const QString& key) { return QString("%1_%2").arg(QStringLiteral("mount_"), key); }
QString plainMapping(const QString& key) { return key; }

class SettingsSingletonTest : public testing::Test {
protected:
    std::string file() const { return dir_ + "/config/settings.ini"; }
    // The same file as the server names it: Windows text with "\" separators.
    QString windowsPath() const { return QString::fromStdString(file()).replace(QLatin1Char('/'), QLatin1Char('\\')); }
    SettingsSingleton& settings() { return Singleton<SettingsSingleton>::instance(); }

    std::string dir_ = nimbrel::test::makeScratchDir("settings");
};

TEST_F(SettingsSingletonTest, EachModeMapsItsKeysAndBothShareTheGeneralSection) {
    settings().openSettings(windowsPath(), mountMapping);
    settings().setValue("SendMountCrashRptMinIntervel", 216);
    const std::string text = nimbrel::test::readFile(file());
    EXPECT_NE(text.find("[General]\nmount__SendMountCrashRptMinIntervel=216"), std::string::npos) << text;
    settings().setValue("acclist", "mounted");
    const QDateTime armed(QDate(2026, 3, 14), QTime(15, 9, 26, 535), QTimeZone::utc());
    settings().setValue("MountCrashRptTime", armed);
    EXPECT_EQ(settings().storedKey("acclist"), "mount__acclist");
    EXPECT_EQ(settings().getValue("SendMountCrashRptMinIntervel").toUInt(), 216u);
    EXPECT_FALSE(settings().getValue("mount__SendMountCrashRptMinIntervel").isValid())
        << "the mapping must apply to reads as well";
    EXPECT_EQ(settings().getValue("MountCrashRptTime").toDateTime().toMSecsSinceEpoch(), armed.toMSecsSinceEpoch());

    settings().openSettings(windowsPath(), plainMapping);
    settings().setValue("acclist", "sync");
    QSettings raw(QString::fromStdString(file()), QSettings::IniFormat);
    EXPECT_EQ(raw.value("acclist").toString(), "sync");
    EXPECT_EQ(raw.value("mount__acclist").toString(), "mounted");
    EXPECT_EQ(settings().getValue("acclist").toString(), "sync");
}

TEST_F(SettingsSingletonTest, CreatesMissingFoldersAndAnswersDefaultsForAbsentKeys) {
    settings().openSettings(windowsPath(), plainMapping);
    EXPECT_EQ(settings().getValue("acclist", "fallback").toString(), "fallback");
    EXPECT_FALSE(settings().getValue("acclist").isValid());
    EXPECT_FALSE(settings().exists()) << "reading must not create the file";

    settings().setValue("acclist", QString());
    EXPECT_TRUE(settings().exists());
    EXPECT_TRUE(std::filesystem::is_regular_file(file()));
    EXPECT_EQ(settings().filePath().toStdString(), file());
    EXPECT_TRUE(settings().getValue("acclist", "fallback").toString().isEmpty());
}

TEST_F(SettingsSingletonTest, ValuesWrittenByAnotherProcessAreSeenAndOursReachIt) {
    settings().openSettings(windowsPath(), mountMapping);
    settings().setValue("acclist", "first");
    EXPECT_EQ(settings().getValue("acclist").toString(), "first");

    ChildProcess writer(SUITE_SETTINGS_TOOL, {file(), "0", "set", "acclist", "later"});
    ASSERT_EQ(writer.wait(), 0) << writer.err();
    EXPECT_EQ(settings().getValue("acclist").toString(), "later");

    settings().setValue("MountCrashRptTime", "mine");
    ChildProcess reader(SUITE_SETTINGS_TOOL, {file(), "0", "get", "MountCrashRptTime"});
    ASSERT_EQ(reader.wait(), 0) << reader.err();
    EXPECT_EQ(reader.out(), "mine\n");
}

TEST_F(SettingsSingletonTest, TwoProcessesWritingDifferentKeysLoseNothing) {
    constexpr int kKeys = 60;
    const std::string go = dir_ + "/go";
    ChildProcess mounted(SUITE_SETTINGS_TOOL, {file(), "0", "fill", "k", std::to_string(kKeys), go});
    ChildProcess syncDisk(SUITE_SETTINGS_TOOL, {file(), "1", "fill", "k", std::to_string(kKeys), go});
    nimbrel::test::writeFile(go, "");
    ASSERT_EQ(mounted.wait(std::chrono::seconds(60)), 0) << mounted.err();
    ASSERT_EQ(syncDisk.wait(std::chrono::seconds(60)), 0) << syncDisk.err();

    QSettings raw(QString::fromStdString(file()), QSettings::IniFormat);
    int missing = 0;
    for (int i = 0; i < kKeys; ++i) {
        const QString key = QString("k%1").arg(i);
        if (raw.value(key).toInt() != i || !raw.contains(key)) ++missing;
        if (raw.value("mount__" + key).toInt() != i || !raw.contains("mount__" + key)) ++missing;
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(raw.allKeys().size(), 2 * kKeys);
}

}  // namespace
