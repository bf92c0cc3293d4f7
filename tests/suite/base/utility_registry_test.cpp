#include <gtest/gtest.h>

#include <QByteArray>
#include <QStringList>

#include "platform/fault_injection.h"
#include "platform/windows.h"
#include "suite/base/utility.h"
#include "suite/logbridge/log_capture.h"

namespace {

const QString kKey = "Software\\Tellwick\\UtilityTest";

TEST(UtilityRegistry, ValuesRoundTripWithTheirTypes) {
    for (bool view64 : {true, false}) {
        SCOPED_TRACE(view64 ? "64-bit view" : "32-bit view");
        const QString text = QString::fromUtf8("Calimbra同步盘 \\ path");
        ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey, "text", REG_SZ, text, view64));
        ASSERT_TRUE(
            Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey, "expand", REG_EXPAND_SZ, "%TEMP%\\x", view64));
        ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey, "dword", REG_DWORD, 0xFEDCBA98u, view64));
        ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey, "qword", REG_QWORD,
                                                 Q_UINT64_C(0x0123456789ABCDEF), view64));
        ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey, "binary", REG_BINARY,
                                                 QByteArray("\x00\x01\xff", 3), view64));
        ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey, "", REG_SZ, "default", view64));

        const QVariant readText = Utility::registryGetKeyValue(HKEY_CURRENT_USER, kKey, "text", view64);
        EXPECT_EQ(readText.type(), QVariant::String);
        EXPECT_EQ(readText.toString(), text);
        EXPECT_EQ(Utility::registryGetKeyValue(HKEY_CURRENT_USER, kKey, "expand", view64).toString(), "%TEMP%\\x");
        const QVariant dword = Utility::registryGetKeyValue(HKEY_CURRENT_USER, kKey, "dword", view64);
        EXPECT_EQ(dword.type(), QVariant::UInt);
        EXPECT_EQ(dword.toUInt(), 0xFEDCBA98u);
        EXPECT_EQ(Utility::registryGetKeyValue(HKEY_CURRENT_USER, kKey, "qword", view64).toULongLong(),
                  Q_UINT64_C(0x0123456789ABCDEF));
        EXPECT_EQ(Utility::registryGetKeyValue(HKEY_CURRENT_USER, kKey, "binary", view64).toByteArray(),
                  QByteArray("\x00\x01\xff", 3));
        EXPECT_EQ(Utility::registryGetKeyValue(HKEY_CURRENT_USER, kKey, "", view64).toString(), "default");
    }
}

TEST(UtilityRegistry, StringsAreStoredAsWindowsProgramsStoreThem) {
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey, "name", REG_SZ, "abc", true));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey.toStdWString().c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 4 * sizeof(wchar_t)) << "three characters and the terminating NUL";
}

TEST(UtilityRegistry, AbsentKeysAndValuesAnswerInvalid) {
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_CURRENT_USER, kKey, true));
    EXPECT_FALSE(Utility::registryGetKeyValue(HKEY_CURRENT_USER, kKey, "text", true).isValid());
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey, "other", REG_DWORD, 1, true));
    EXPECT_TRUE(Utility::registryKeyExists(HKEY_CURRENT_USER, kKey, true));
    EXPECT_FALSE(Utility::registryGetKeyValue(HKEY_CURRENT_USER, kKey, "text", true).isValid());
}

TEST(UtilityRegistry, UnconvertibleValuesAreRefusedAndNothingIsWritten) {
    EXPECT_FALSE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey, "n", REG_DWORD, "not a number", true));
    EXPECT_FALSE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey, "m", REG_MULTI_SZ, "a", true));
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_CURRENT_USER, kKey, true));
}

TEST(UtilityRegistry, ViewsSeparateMachineSoftwareButShareTheUserHive) {
    const QString machineKey = "SOFTWARE\\Tellwick\\ViewTest";
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_LOCAL_MACHINE, machineKey, "bits", REG_DWORD, 32, false));
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_LOCAL_MACHINE, machineKey, "bits", REG_DWORD, 64, true));
    EXPECT_EQ(Utility::registryGetKeyValue(HKEY_LOCAL_MACHINE, machineKey, "bits", false).toUInt(), 32u);
    EXPECT_EQ(Utility::registryGetKeyValue(HKEY_LOCAL_MACHINE, machineKey, "bits", true).toUInt(), 64u);
    EXPECT_TRUE(Utility::registryKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\WOW6432Node\\Tellwick\\ViewTest", true));

    ASSERT_TRUE(Utility::registryDeleteKeyTree(HKEY_LOCAL_MACHINE, machineKey, false));
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_LOCAL_MACHINE, machineKey, false));
    EXPECT_TRUE(Utility::registryKeyExists(HKEY_LOCAL_MACHINE, machineKey, true));

    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey, "shared", REG_SZ, "both", false));
    EXPECT_EQ(Utility::registryGetKeyValue(HKEY_CURRENT_USER, kKey, "shared", true).toString(), "both");
}

TEST(UtilityRegistry, DeleteKeyTreeRemovesTheKeyAndEverythingBelow) {
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey + "\\a\\b", "v", REG_SZ, "x", true));
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey + "\\c", "v", REG_SZ, "x", true));
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey + "Sibling", "v", REG_SZ, "x", true));

    EXPECT_TRUE(Utility::registryDeleteKeyTree(HKEY_CURRENT_USER, kKey + "\\", true));
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_CURRENT_USER, kKey, true));
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_CURRENT_USER, kKey + "\\a\\b", true));
    EXPECT_TRUE(Utility::registryKeyExists(HKEY_CURRENT_USER, kKey + "Sibling", true));
    EXPECT_TRUE(Utility::registryKeyExists(HKEY_CURRENT_USER, "Software\\Tellwick", true));

    EXPECT_TRUE(Utility::registryDeleteKeyTree(HKEY_CURRENT_USER, kKey, true)) << "already gone counts as done";
}

TEST(UtilityRegistry, DeleteKeyTreeOfATopLevelKey) {
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, "TopLevel\\x", "v", REG_SZ, "x", true));
    EXPECT_TRUE(Utility::registryDeleteKeyTree(HKEY_CURRENT_USER, "TopLevel", true));
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_CURRENT_USER, "TopLevel", true));
}

TEST(UtilityRegistry, WalkHandsOverEverySubKeyWithAUsableHandle) {
    for (const char* name : {"beta", "Alpha", "gamma"}) {
        ASSERT_TRUE(
            Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey + "\\" + name, "syncPath", REG_SZ, name, true));
    }
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey + "\\beta\\nested", "v", REG_SZ, "x", true));

    QStringList seen;
    const bool walked = Utility::registryWalkSubKeys(
        HKEY_CURRENT_USER, kKey,
        [&seen](HKEY key, const QString& name) {
            wchar_t value[64] = {};
            DWORD size = sizeof value;
            DWORD type = 0;
            EXPECT_EQ(RegQueryValueExW(key, L"syncPath", nullptr, &type, reinterpret_cast<BYTE*>(value), &size),
                      ERROR_SUCCESS);
            EXPECT_EQ(QString::fromWCharArray(value), name);
            seen << name;
        },
        true);
    EXPECT_TRUE(walked);
    EXPECT_EQ(seen, QStringList({"Alpha", "beta", "gamma"}));
}

TEST(UtilityRegistry, WalkSurvivesCallbacksThatDeleteWhatIsWalked) {
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(
            Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey + "\\k" + QString::number(i), "v", REG_SZ, "x", true));
    }
    int visits = 0;
    EXPECT_TRUE(Utility::registryWalkSubKeys(
        HKEY_CURRENT_USER, kKey,
        [&visits](HKEY, const QString& name) {
            ++visits;
            EXPECT_TRUE(Utility::registryDeleteKeyTree(HKEY_CURRENT_USER, kKey + "\\" + name, true));
        },
        true));
    EXPECT_EQ(visits, 5);
    int left = 0;
    Utility::registryWalkSubKeys(
        HKEY_CURRENT_USER, kKey, [&left](HKEY, const QString&) { ++left; }, true);
    EXPECT_EQ(left, 0);
}

TEST(UtilityRegistry, WalkOfAMissingKeyFails) {
    int visits = 0;
    EXPECT_FALSE(Utility::registryWalkSubKeys(
        HKEY_CURRENT_USER, kKey, [&visits](HKEY, const QString&) { ++visits; }, true));
    EXPECT_EQ(visits, 0);
}

TEST(UtilityRegistry, RegistryFailuresAreReportedAndLogged) {
    LogCapture capture;
    nimbrel::platform::faults::add({"RegSetValueExW", "", 1, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)});
    EXPECT_FALSE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey, "v", REG_SZ, "x", true));
    nimbrel::platform::faults::clear();
    EXPECT_TRUE(capture.contains("set value " + kKey.toStdString() + "\\v failed: Access is denied."));
    EXPECT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kKey, "v", REG_SZ, "x", true));
}

}  // namespace
