#include <gtest/gtest.h>

#include <QByteArray>
#include <QStringList>

#include "platform/fault_injection.h"
#include "platform/windows.h"
#include "suite/base/utility.h"
#include "suite/logbridge/log_capture.h"

namespace {

const QString kKey = "Software\\Tellwick\\UtilityTest";

bool set(const QString& key, const QString& name, DWORD type, const QVariant& value, bool view64 = true) {
    return Utility::registrySetKeyValue(HKEY_CURRENT_USER, key, name, type, value, view64);
}
QVariant get(const QString& name, bool view64 = true) {
    return Utility::registryGetKeyValue(HKEY_CURRENT_USER, kKey, name, view64);
}
bool exists(const QString& key) { return Utility::registryKeyExists(HKEY_CURRENT_USER, key, true); }

TEST(UtilityRegistry, ValuesRoundTripWithTheirTypes) {
    const QString text = QString::fromUtf8("Calimbra同步盘 \\ path");
    const QByteArray binary("\x00\x01\xff", 3);
    for (bool view64 : {true, false}) {
        SCOPED_TRACE(view64 ? "64-bit view" : "32-bit view");
        ASSERT_TRUE(set(kKey, "text", REG_SZ, text, view64));
        ASSERT_TRUE(set(kKey, "expand", REG_EXPAND_SZ, "%TEMP%\\x", view64));
        ASSERT_TRUE(set(kKey, "dword", REG_DWORD, 0xFEDCBA98u, view64));
        ASSERT_TRUE(set(kKey, "qword", REG_QWORD, Q_UINT64_C(0x0123456789ABCDEF), view64));
        ASSERT_TRUE(set(kKey, "binary", REG_BINARY, binary, view64));
        ASSERT_TRUE(set(kKey, "", REG_SZ, "default", view64));

        EXPECT_EQ(get("text", view64).type(), QVariant::String);
        EXPECT_EQ(get("text", view64).toString(), text);
        EXPECT_EQ(get("expand", view64).toString(), "%TEMP%\\x");
        EXPECT_EQ(get("dword", view64).type(), QVariant::UInt);
        EXPECT_EQ(get("dword", view64).toUInt(), 0xFEDCBA98u);
        EXPECT_EQ(get("qword", view64).toULongLong(), Q_UINT64_C(0x0123456789ABCDEF));
        EXPECT_EQ(get("binary", view64).toByteArray(), binary);
        EXPECT_EQ(get("", view64).toString(), "default");
    }
    // Strings are stored as Windows programs store them: UTF-16 with the terminating NUL counted.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey.toStdWString().c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"expand", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(size, 9 * sizeof(wchar_t)) << "eight characters and the terminating NUL";
}

TEST(UtilityRegistry, AbsentOrUnconvertibleValuesAnswerInvalidAndWriteNothing) {
    EXPECT_FALSE(exists(kKey));
    EXPECT_FALSE(get("text").isValid());
    EXPECT_FALSE(set(kKey, "n", REG_DWORD, "not a number"));
    EXPECT_FALSE(set(kKey, "m", REG_MULTI_SZ, "a"));
    EXPECT_FALSE(exists(kKey));
    ASSERT_TRUE(set(kKey, "other", REG_DWORD, 1));
    EXPECT_TRUE(exists(kKey));
    EXPECT_FALSE(get("text").isValid());
}

TEST(UtilityRegistry, DeleteKeyTreeRemovesTheKeyAndEverythingBelowOnly) {
    for (const QString& key : {kKey + "\\a\\b", kKey + "\\c", kKey + "Sibling", QString("TopLevel\\x")}) {
        ASSERT_TRUE(set(key, "v", REG_SZ, "x"));
    }
    EXPECT_TRUE(Utility::registryDeleteKeyTree(HKEY_CURRENT_USER, kKey + "\\", true));
    EXPECT_FALSE(exists(kKey));
    EXPECT_FALSE(exists(kKey + "\\a\\b"));
    EXPECT_TRUE(exists(kKey + "Sibling"));
    EXPECT_TRUE(exists("Software\\Tellwick"));
    EXPECT_TRUE(Utility::registryDeleteKeyTree(HKEY_CURRENT_USER, kKey, true)) << "already gone counts as done";

    EXPECT_TRUE(Utility::registryDeleteKeyTree(HKEY_CURRENT_USER, "TopLevel", true));
    EXPECT_FALSE(exists("TopLevel"));
}

TEST(UtilityRegistry, WalkHandsOverEverySubKeyWithAUsableHandle) {
    auto walk = [](QStringList& seen) {
        return Utility::registryWalkSubKeys(
            HKEY_CURRENT_USER, kKey,
            [&seen](HKEY key, const QString& name) {
                wchar_t value[64] = {};
                DWORD size = sizeof value;
                EXPECT_EQ(RegQueryValueExW(key, L"syncPath", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
                          ERROR_SUCCESS);
                EXPECT_EQ(QString::fromWCharArray(value), name);
                seen << name;
            },
            true);
    };
    QStringList seen;
    EXPECT_FALSE(walk(seen)) << "a missing key cannot be walked";
    EXPECT_TRUE(seen.isEmpty());

    for (const char* name : {"beta", "Alpha", "gamma"}) ASSERT_TRUE(set(kKey + "\\" + name, "syncPath", REG_SZ, name));
    ASSERT_TRUE(set(kKey + "\\beta\\nested", "v", REG_SZ, "x"));
    EXPECT_TRUE(walk(seen));
    EXPECT_EQ(seen, QStringList({"Alpha", "beta", "gamma"}));
}

TEST(UtilityRegistry, WalkSurvivesCallbacksThatDeleteWhatIsWalked) {
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(set(kKey + "\\k" + QString::number(i), "v", REG_SZ, "x"));
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

TEST(UtilityRegistry, RegistryFailuresAreReportedAndLogged) {
    LogCapture capture;
    nimbrel::platform::faults::add({"RegSetValueExW", "", 1, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)});
    EXPECT_FALSE(set(kKey, "v", REG_SZ, "x"));
    nimbrel::platform::faults::clear();
    EXPECT_TRUE(capture.contains("set value " + kKey.toStdString() + "\\v failed: Access is denied."));
    EXPECT_TRUE(set(kKey, "v", REG_SZ, "x"));
}

}  // namespace
