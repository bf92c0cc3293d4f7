#include "host/sync_virtual_config.h"

namespace {

// "Calimbra" followed by the words for "sync disk" in the GBK code page.
constexpr char kDisplayNameGbk[] = "Calimbra\xCD\xAC\xB2\xBD\xC5\xCC";

}  // namespace

int CZiduZuduConfig::init(int mode) { return initCommon(mode); }

QString CZiduZuduConfig::clientAppName(bool bare) {
    return bare ? QStringLiteral("ziduZudu") : QStringLiteral("ziduZudu.exe");
}

QString CZiduZuduConfig::serverAppName(bool bare) {
    return bare ? QStringLiteral("RoziDavidoVodido") : QStringLiteral("RoziDavidoVodido.exe");
}

QString CZiduZuduConfig::instanceName() { return QStringLiteral("%1_%2").arg(clientAppName(true)).arg(mode()); }

QString CZiduZuduConfig::providerId() { return QStringLiteral("ROZIDAVIDOVODIDO"); }

QString CZiduZuduConfig::providerAccount() { return QStringLiteral("S-1-5-21-1481072562-3264209077-2825855657-1005"); }

QString CZiduZuduConfig::shellFolderClsid() { return QStringLiteral("{CBDE6239-084A-416F-826F-D7C264868D75}"); }

QString CZiduZuduConfig::syncRootId() {
    return QStringLiteral("ROZIDAVIDOVODIDO!S-1-5-21-1481072562-3264209077-2825855657-1005!Account");
}

QString CZiduZuduConfig::serverTitle() { return QStringLiteral("RoziDavidoVodido"); }

QString CZiduZuduConfig::displayName() { return fromLocalCodePage(kDisplayNameGbk); }

QString CZiduZuduConfig::servicePluginChannel() { return QStringLiteral("__SYNC_SERVICE_PLUGIN_IPC_PIPE_NAME__"); }

QString CZiduZuduConfig::pluginServiceChannel() { return QStringLiteral("__SYNC_PLUGIN_SERVICE_IPC_PIPE_NAME__"); }

QString CZiduZuduConfig::socketShareName() { return QStringLiteral("_SocketApi_tcp_sync_"); }

const wchar_t* CZiduZuduConfig::registryRoot() { return L"Software\\Tellwick\\Orvane"; }
