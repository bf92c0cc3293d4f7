#include "cfapi/sync_root_fixture.h"

#include <filesystem>

#include "cfapi/file_time.h"
#include "host/sync_virtual_config.h"
#include "support/test_env.h"

void SyncRootTest::SetUp() {
    createSyncConfig(1);
    root_ = nimbrel::test::makeScratchDir("root");
    ASSERT_EQ(CfApiWrapper::registerSyncRoot(win(), "RoziDavidoVodido", "1.0", syncConfig()->shellFolderClsid()), S_OK);
    ASSERT_EQ(CfApiWrapper::connectSyncRoot(win()), S_OK);
}

void SyncRootTest::TearDown() { CfApiWrapper::disconnectSyncRoot(); }

QString SyncRootTest::win(const std::string& relative) const {
    return QString::fromStdString(host(relative)).replace('/', '\\');
}

std::string SyncRootTest::host(const std::string& relative) const {
    return relative.empty() ? root_ : root_ + "/" + relative;
}

void SyncRootTest::makeFolder(const std::string& relative) const {
    std::filesystem::create_directories(host(relative));
}

void SyncRootTest::makeFile(const std::string& relative, const std::string& content) const {
    nimbrel::test::writeFile(host(relative), content);
}

void SyncRootTest::createFile(const std::string& relative, qint64 size, const QByteArray& identity) {
    ASSERT_EQ(CfApiWrapper::createPlaceholderInfo(win(relative), false, itemFor(win(relative), 1), size, identity), 0);
}

void SyncRootTest::createFolder(const std::string& relative, const QByteArray& identity) {
    ASSERT_EQ(CfApiWrapper::createPlaceholderInfo(win(relative), true, itemFor(win(relative), 2), 0, identity), 0);
}

CF_PIN_STATE SyncRootTest::pinOf(const std::string& relative) const {
    PlaceholderInfo info = CfApiWrapper::findPlaceholderInfo(win(relative));
    EXPECT_TRUE(info.isValid()) << relative;
    return info ? info->PinState : CF_PIN_STATE_INHERIT;
}

void SyncRootTest::setRawPin(const std::string& relative, CF_PIN_STATE state) const {
    HANDLE item = CreateFileW(win(relative).toStdWString().c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(item, INVALID_HANDLE_VALUE) << relative;
    EXPECT_EQ(CfSetPinState(item, state, CF_SET_PIN_FLAG_NONE, nullptr), S_OK) << relative;
    CloseHandle(item);
}

DWORD SyncRootTest::attributesOf(const std::string& relative) const {
    return GetFileAttributesW(win(relative).toStdWString().c_str());
}

qint64 SyncRootTest::lastWriteOf(const std::string& relative) const {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_TRUE(GetFileAttributesExW(win(relative).toStdWString().c_str(), GetFileExInfoStandard, &data)) << relative;
    return filetime::unixSecondsFromFiletime(data.ftLastWriteTime);
}

PlaceholderItemInfo itemFor(const QString& path, int type, qint64 time) {
    PlaceholderItemInfo item;
    item.path = path.toStdWString();
    item.type = type;
    item.creationTime = time;
    item.modificationTime = time + 60;
    item.accessTime = time + 120;
    return item;
}
