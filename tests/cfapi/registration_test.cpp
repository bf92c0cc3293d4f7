// Sync-root registration with its shell-integration registry entries, and unregistration.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QVariant>
#include <string>
#include <vector>

#include "cfapi/cf_api_wrapper.h"
#include "host/sync_virtual_config.h"
#include "platform/fault_injection.h"
#include "suite/base/utility.h"
#include "suite/logbridge/log_capture.h"
#include "support/crawl_scope.h"
#include "support/test_env.h"

namespace faults = nimbrel::platform::faults;
using nimbrel::test::CrawlScope;

namespace {

const QString kManager = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SyncRootManager";
const QString kNewStartPanel =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\HideDesktopIcons\\NewStartPanel";
const QString kNamespace = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Desktop\\NameSpace";

struct Value {
    DWORD type = REG_NONE;
    QVariant data;
};

// The type of one value as the registry stores it, and its data.
Value readValue(HKEY root, const QString& key, const QString& name, bool view64) {
    Value value;
    value.data = Utility::registryGetKeyValue(root, key, name, view64);
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.toStdWString().c_str(), 0, KEY_READ | (view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY),
                      &opened) == ERROR_SUCCESS) {
        RegQueryValueExW(opened, name.toStdWString().c_str(), nullptr, &value.type, nullptr, nullptr);
        RegCloseKey(opened);
    }
    return value;
}

class RegistrationTest : public testing::Test {
protected:
    HRESULT registerRoot() { return CfApiWrapper::registerSyncRoot(path_, "RoziDavidoVodido", "1.0", clsid_); }
    bool isRegistered() {
        std::vector<BYTE> buffer(4096);
        DWORD returned = 0;
        return SUCCEEDED(CfGetSyncRootInfoByPath(path_.toStdWString().c_str(), CF_SYNC_ROOT_INFO_BASIC, buffer.data(),
                                                 static_cast<DWORD>(buffer.size()), &returned));
    }
    void expectValue(HKEY root, const QString& key, const QString& name, bool view64, DWORD type,
                     const QVariant& data) {
        Value value = readValue(root, key, name, view64);
        EXPECT_EQ(value.type, type) << key.toStdString() << " " << name.toStdString() << " view64=" << view64;
        EXPECT_EQ(value.data, data) << key.toStdString() << " " << name.toStdString() << " view64=" << view64;
    }

    CSyncVirtualConfig* config_ = createSyncConfig(1);
    QString path_ = QString::fromStdString(nimbrel::test::makeScratchDir("root")).replace('/', '\\');
    QString clsid_ = config_->shellFolderClsid();
    QString syncRootKey_ = kManager + "\\" + config_->syncRootId();
    QString clsidKey_ = "Software\\Classes\\CLSID\\" + clsid_;
};

}  // namespace

TEST_F(RegistrationTest, TheUserSidIsAStableLocalAccountSid) {
    QString sid = CfApiWrapper::getWindowsSid();
    EXPECT_TRUE(QRegularExpression("^S-1-5-21-\\d+-\\d+-\\d+-\\d+$").match(sid).hasMatch()) << sid.toStdString();
    EXPECT_TRUE(sid.endsWith("-" + QString::number(::getuid())));
    EXPECT_EQ(CfApiWrapper::getWindowsSid(), sid);
}

TEST_F(RegistrationTest, RegistrationWritesEveryEntryRemovesTheRetiredNamespaceKeyAndRewritesLostEntries) {
    const QString retired = kNamespace + "\\" + clsid_;
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, retired + "\\Sub", "x", REG_SZ, "old", true));
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, retired, "", REG_SZ, "old", false));
    LogCapture capture;
    ASSERT_EQ(registerRoot(), S_OK);
    EXPECT_TRUE(isRegistered());
    EXPECT_TRUE(capture.contains("Successfully set Registry keys for shell integration at:"));
    for (bool view64 : {true, false}) EXPECT_FALSE(Utility::registryKeyExists(HKEY_CURRENT_USER, retired, view64));
    EXPECT_FALSE(capture.contains("Failed to fully clean retired CFAPI Desktop Namespace"));
    EXPECT_TRUE(CfApiWrapper::retireDesktopNamespaceKey(HKEY_CURRENT_USER, retired, true)) << "already gone is done";

    // The sync-root key lives under the machine, in the 64-bit view only.
    const QString display = config_->displayName();
    expectValue(HKEY_LOCAL_MACHINE, syncRootKey_, "Flags", true, REG_DWORD, 2u);
    expectValue(HKEY_LOCAL_MACHINE, syncRootKey_, "DisplayNameResource", true, REG_EXPAND_SZ, display);
    const Value icon = readValue(HKEY_LOCAL_MACHINE, syncRootKey_, "IconResource", true);
    EXPECT_EQ(icon.type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_TRUE(icon.data.toString().endsWith("\\RoreRoduv32.dll,0")) << icon.data.toString().toStdString();
    expectValue(HKEY_LOCAL_MACHINE, syncRootKey_ + "\\UserSyncRoots", CfApiWrapper::getWindowsSid(), true, REG_SZ,
                path_);
    expectValue(HKEY_LOCAL_MACHINE, syncRootKey_, "NamespaceCLSID", true, REG_SZ, clsid_);
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_LOCAL_MACHINE, syncRootKey_, false));

    // The shell-folder class is the user's, in both views.
    for (bool view64 : {true, false}) {
        expectValue(HKEY_CURRENT_USER, clsidKey_, "", view64, REG_SZ, display);
        expectValue(HKEY_CURRENT_USER, clsidKey_, "InfoTip", view64, REG_SZ, QString::fromUtf8("从这里进入Calimbra"));
        expectValue(HKEY_CURRENT_USER, clsidKey_, "SortOrderIndex", view64, REG_DWORD, 65u);
        expectValue(HKEY_CURRENT_USER, clsidKey_, "System.IsPinnedToNamespaceTree", view64, REG_DWORD, 0u);
        expectValue(HKEY_CURRENT_USER, clsidKey_, "System.ItemAuthors", view64, REG_SZ,
                    QString::fromUtf8("双击进入Calimbra"));
        expectValue(HKEY_CURRENT_USER, clsidKey_, "TileInfo", view64, REG_SZ, "prop:System.ItemAuthors");
        expectValue(HKEY_CURRENT_USER, clsidKey_ + "\\DefaultIcon", "", view64, REG_SZ, icon.data);
        expectValue(HKEY_CURRENT_USER, clsidKey_ + "\\InProcServer32", "", view64, REG_SZ,
                    "%SystemRoot%\\system32\\shell32.dll");
        expectValue(HKEY_CURRENT_USER, clsidKey_ + "\\Instance", "CLSID", view64, REG_SZ,
                    "{0E5AAE11-A475-4c5b-AB00-C66DE400274E}");
        expectValue(HKEY_CURRENT_USER, clsidKey_ + "\\Instance\\InitPropertyBag", "Attributes", view64, REG_DWORD, 17u);
        expectValue(HKEY_CURRENT_USER, clsidKey_ + "\\Instance\\InitPropertyBag", "TargetFolderPath", view64, REG_SZ,
                    path_);
        expectValue(HKEY_CURRENT_USER, clsidKey_ + "\\ShellFolder", "Attributes", view64, REG_DWORD, 0xF080004Du);
        expectValue(HKEY_CURRENT_USER, clsidKey_ + "\\ShellFolder", "FolderValueFlags", view64, REG_DWORD, 552u);
        expectValue(HKEY_CURRENT_USER, kNewStartPanel, clsid_, view64, REG_DWORD, 1u);
    }

    // Registering again updates the root and rewrites lost entries.
    ASSERT_TRUE(Utility::registryDeleteKeyTree(HKEY_CURRENT_USER, clsidKey_, true));
    ASSERT_TRUE(Utility::registryDeleteKeyTree(HKEY_LOCAL_MACHINE, syncRootKey_, true));
    ASSERT_EQ(registerRoot(), S_OK);
    expectValue(HKEY_LOCAL_MACHINE, syncRootKey_, "Flags", true, REG_DWORD, 2u);
    expectValue(HKEY_CURRENT_USER, clsidKey_, "TileInfo", true, REG_SZ, "prop:System.ItemAuthors");
    EXPECT_EQ(CfApiWrapper::registeredRoot(), QString(path_).replace('\\', '/'));
}

TEST_F(RegistrationTest, AFailingMachineWriteRemovesTheHalfWrittenSyncRootKey) {
    faults::add({"RegSetValueExW", "", 1, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)});
    LogCapture capture;
    EXPECT_EQ(registerRoot(), S_OK);
    EXPECT_TRUE(isRegistered());
    EXPECT_TRUE(
        capture.contains("Failed to set HKEY_LOCAL_MACHINE registryKeysToSet Registry keys for shell "
                         "integration. Progress bar will not work."));
    EXPECT_TRUE(capture.contains("Failed to create the registry key for path:"));
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_LOCAL_MACHINE, syncRootKey_, true));
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_CURRENT_USER, clsidKey_, true));
}

TEST_F(RegistrationTest, AFailingUserWriteRemovesTheSyncRootKeyAndKeepsWhatWasWritten) {
    const std::string failing = ("HKEY_CURRENT_USER\\" + clsidKey_ + "\\ShellFolder").toStdString();
    faults::add({"RegSetValueExW", failing, 1, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)});
    LogCapture capture;
    EXPECT_EQ(registerRoot(), S_OK);
    EXPECT_TRUE(
        capture.contains("Failed to set HKEY_CURRENT_USER registryKeysToCLSIDSet Registry keys for shell "
                         "integration. Progress bar will not work."));
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_LOCAL_MACHINE, syncRootKey_, true));
    expectValue(HKEY_CURRENT_USER, clsidKey_, "TileInfo", true, REG_SZ, "prop:System.ItemAuthors");
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, kNewStartPanel, clsid_, true).type, static_cast<DWORD>(REG_NONE));
}

TEST_F(RegistrationTest, WithoutAUserSidNoShellIntegrationIsWrittenOrRemovedButTheRootIsRegistered) {
    faults::add({"GetTokenInformation", "", 0, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)});
    LogCapture capture;
    EXPECT_EQ(registerRoot(), S_OK);
    EXPECT_TRUE(isRegistered());
    EXPECT_TRUE(capture.contains("GetTokenInformation for token size has failed with error"));
    EXPECT_TRUE(
        capture.contains("Failed to set Registry keys for shell integration, as windowsSid is empty. Progress "
                         "bar will not work."));
    EXPECT_TRUE(capture.contains("Failed to create the registry key for path:"));
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_LOCAL_MACHINE, syncRootKey_, true));
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_CURRENT_USER, clsidKey_, true));

    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, clsidKey_, "", REG_SZ, "kept", true));
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_LOCAL_MACHINE, syncRootKey_, "Flags", REG_DWORD, 2u, true));
    EXPECT_EQ(CfApiWrapper::unregisterSyncRoot(path_), S_OK);
    EXPECT_FALSE(isRegistered());
    EXPECT_TRUE(capture.contains(". Because windowsSid is empty."));
    EXPECT_TRUE(capture.contains("Failed to unregister SyncRoot Shell Extensions!"));
    EXPECT_TRUE(Utility::registryKeyExists(HKEY_CURRENT_USER, clsidKey_, true));
    EXPECT_TRUE(Utility::registryKeyExists(HKEY_LOCAL_MACHINE, syncRootKey_, true));
}

TEST_F(RegistrationTest, UnregistrationRemovesTheRootItsEntriesAndItsSearchScope) {
    ASSERT_EQ(registerRoot(), S_OK);
    const std::wstring url = L"file:///" + path_.toStdWString();
    CrawlScope{}.include(url);

    EXPECT_EQ(CfApiWrapper::unregisterSyncRoot(path_), S_OK);
    EXPECT_FALSE(isRegistered());
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_LOCAL_MACHINE, syncRootKey_, true));
    for (bool view64 : {true, false}) {
        EXPECT_FALSE(Utility::registryKeyExists(HKEY_CURRENT_USER, clsidKey_, view64));
        expectValue(HKEY_CURRENT_USER, kNewStartPanel, clsid_, view64, REG_DWORD, 1u);
    }

    EXPECT_EQ(CrawlScope{}.removeRule(url), S_FALSE);
}

TEST_F(RegistrationTest, AFailedUnregistrationIsReportedAndTheCleanUpStillRuns) {
    ASSERT_EQ(registerRoot(), S_OK);
    faults::add({"CfUnregisterSyncRoot", "", 1, static_cast<HRESULT>(0x8007017C)});
    LogCapture capture;
    EXPECT_EQ(CfApiWrapper::unregisterSyncRoot(path_), static_cast<HRESULT>(0x8007017C));
    EXPECT_TRUE(capture.contains("Failed to Unregister SyncRoot errcode:WindowsError: 8007017c: "));
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_LOCAL_MACHINE, syncRootKey_, true));
    EXPECT_TRUE(capture.contains("Successfully unregistered SyncRoot Shell Extensions!"));
}

TEST_F(RegistrationTest, OnlyThisModesSyncRootKeysForExactlyThisPathAreRemoved) {
    const QString sid = CfApiWrapper::getWindowsSid();
    const QString id = config_->syncRootId();
    auto record = [&](const QString& name, const QString& path) {
        ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_LOCAL_MACHINE, kManager + "\\" + name + "\\UserSyncRoots", sid,
                                                 REG_SZ, path, true));
    };
    record(id, path_);
    record(id + "2", path_ + "\\");
    record("OTHERPROVIDER!" + sid + "!Account", path_);
    EXPECT_TRUE(CfApiWrapper::removeShellIntegrationKeys(path_));
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_LOCAL_MACHINE, kManager + "\\" + id, true));
    EXPECT_TRUE(Utility::registryKeyExists(HKEY_LOCAL_MACHINE, kManager + "\\" + id + "2", true));
    EXPECT_TRUE(Utility::registryKeyExists(HKEY_LOCAL_MACHINE, kManager + "\\OTHERPROVIDER!" + sid + "!Account", true));
}

TEST_F(RegistrationTest, ARetiredNamespaceKeyThatCannotBeRemovedIsReportedButRegistrationGoesOn) {
    const QString key = kNamespace + "\\" + clsid_;
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, key, "", REG_SZ, "old", true));
    faults::add(
        {"RegOpenKeyExW", ("HKEY_CURRENT_USER\\" + key).toStdString(), 1, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)});
    LogCapture capture;
    EXPECT_EQ(registerRoot(), S_OK);
    EXPECT_TRUE(capture.contains("Failed to open retired Desktop Namespace registry key:"));
    EXPECT_TRUE(capture.contains("Failed to fully clean retired CFAPI Desktop Namespace; the entry remains hidden."));
    EXPECT_TRUE(capture.contains("Successfully set Registry keys for shell integration at:"));
    // Hidden from the desktop all the same.
    expectValue(HKEY_CURRENT_USER, kNewStartPanel, clsid_, true, REG_DWORD, 1u);
}
