#include "host/sync_virtual_config.h"

int CMountDiskConfig::init(int mode) { return initCommon(mode); }

QString CMountDiskConfig::clientAppName(bool bare) {
    return bare ? QStringLiteral("duzodUruro") : QStringLiteral("duzodUruro.exe");
}

QString CMountDiskConfig::serverAppName(bool bare) {
    return bare ? QStringLiteral("ZedoziZevoro") : QStringLiteral("ZedoziZevoro.exe");
}

QString CMountDiskConfig::instanceName() { return QStringLiteral("%1_%2").arg(clientAppName(true)).arg(mode()); }

QString CMountDiskConfig::providerId() { return QStringLiteral("ZEDOZIZEVORO"); }

QString CMountDiskConfig::providerAccount() { return QStringLiteral("S-1-5-21-1481072562-3264209077-2825855657-1001"); }

QString CMountDiskConfig::shellFolderClsid() { return QStringLiteral("{3C235950-9B69-4D9D-BF8D-327E1CF93C41}"); }

QString CMountDiskConfig::syncRootId() {
    return QStringLiteral("ZEDOZIZEVORO!S-1-5-21-1481072562-3264209077-2825855657-1001!Account");
}

QString CMountDiskConfig::serverTitle() { return QStringLiteral("ZedoziZevoro"); }

QString CMountDiskConfig::displayName() { return fromLocalCodePage("Calimbra(Y:)"); }

QString CMountDiskConfig::servicePluginChannel() { return QStringLiteral("__SERVICE_PLUGIN_IPC_PIPE_NAME__"); }

QString CMountDiskConfig::pluginServiceChannel() { return QStringLiteral("__PLUGIN_SERVICE_IPC_PIPE_NAME__"); }

QString CMountDiskConfig::socketShareName() { return QStringLiteral("_SocketApi_tcp_"); }

const wchar_t* CMountDiskConfig::registryRoot() { return L"Software\\Tellwick\\Orvane-Mount"; }
