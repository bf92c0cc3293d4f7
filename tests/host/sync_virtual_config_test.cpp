#include "host/sync_virtual_config.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <memory>

namespace {

// A record as start-up leaves it, without opening the process's log and settings file.
template <typename Record>
struct InitialisedRecord : Record {
    explicit InitialisedRecord(int mode) { this->mode_ = mode; }
};

// Every name a record answers, in one list.
QStringList namesOf(CSyncVirtualConfig& record) {
    return {record.clientAppName(true),    record.clientAppName(false), record.serverAppName(true),
            record.serverAppName(false),   record.instanceName(),       record.providerId(),
            record.providerAccount(),      record.shellFolderClsid(),   record.syncRootId(),
            record.serverTitle(),          record.displayName(),        record.servicePluginChannel(),
            record.pluginServiceChannel(), record.socketShareName(),    QString::fromWCharArray(record.registryRoot())};
}

TEST(SyncVirtualConfigTest, EachModesRecordAnswersEveryName) {
    InitialisedRecord<CMountDiskConfig> mounted(0);
    EXPECT_EQ(
        namesOf(mounted),
        QStringList({"duzodUruro", "duzodUruro.exe", "ZedoziZevoro", "ZedoziZevoro.exe", "duzodUruro_0", "ZEDOZIZEVORO",
                     "S-1-5-21-1481072562-3264209077-2825855657-1001", "{3C235950-9B69-4D9D-BF8D-327E1CF93C41}",
                     "ZEDOZIZEVORO!S-1-5-21-1481072562-3264209077-2825855657-1001!Account", "ZedoziZevoro",
                     "Calimbra(Y:)", "__SERVICE_PLUGIN_IPC_PIPE_NAME__", "__PLUGIN_SERVICE_IPC_PIPE_NAME__",
                     "_SocketApi_tcp_", "Software\\Tellwick\\Orvane-Mount"}));
    InitialisedRecord<CZiduZuduConfig> syncDisk(1);
    EXPECT_EQ(
        namesOf(syncDisk),
        QStringList({"ziduZudu", "ziduZudu.exe", "RoziDavidoVodido", "RoziDavidoVodido.exe", "ziduZudu_1",
                     "ROZIDAVIDOVODIDO", "S-1-5-21-1481072562-3264209077-2825855657-1005",
                     "{CBDE6239-084A-416F-826F-D7C264868D75}",
                     "ROZIDAVIDOVODIDO!S-1-5-21-1481072562-3264209077-2825855657-1005!Account", "RoziDavidoVodido",
                     QString::fromUtf8("Calimbra\u540c\u6b65\u76d8"), "__SYNC_SERVICE_PLUGIN_IPC_PIPE_NAME__",
                     "__SYNC_PLUGIN_SERVICE_IPC_PIPE_NAME__", "_SocketApi_tcp_sync_", "Software\\Tellwick\\Orvane"}));
}

TEST(SyncVirtualConfigTest, FactoryHoldsOneRecordPerModeAndRefusesOthers) {
    ASSERT_NE(createSyncConfig(0), nullptr);
    EXPECT_EQ(syncConfig()->serverAppName(true), "ZedoziZevoro");
    EXPECT_EQ(syncConfig()->mode(), -1);
    EXPECT_EQ(g_syncConfig.use_count(), 1);
    ASSERT_NE(createSyncConfig(1), nullptr);
    EXPECT_EQ(syncConfig()->serverAppName(true), "RoziDavidoVodido");
    EXPECT_EQ(createSyncConfig(2), nullptr);
    EXPECT_EQ(createSyncConfig(-1), nullptr);
}

TEST(SyncVirtualConfigTest, FoldersDeriveFromTheExecutablesFolder) {
    QString appDir = applicationDirectory();
    ASSERT_TRUE(appDir.endsWith('\\')) << appDir.toStdString();
    EXPECT_FALSE(appDir.contains('/')) << appDir.toStdString();

    InitialisedRecord<CZiduZuduConfig> sync(1);
    QString expected = QString(appDir).replace('\\', '/') + "log/RoziDavidoVodido/";
    EXPECT_EQ(sync.logDirectory(), expected);
    EXPECT_FALSE(sync.logDirectory().contains('\\'));
}

}  // namespace
