#include "host/sync_virtual_config.h"

#include <QDate>
#include <QDir>
#include <string>

#include "platform/win_module.h"
#include "platform/win_string.h"
#include "suite/base/settings_singleton.h"
#include "suite/base/winpath.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr std::size_t kLogFileSize = 10485760;
constexpr std::size_t kLogFilesKept = 40;
constexpr char kLogPattern[] = "[%Y%m%d,%H:%M:%S.%e][%l][%t]%v";
constexpr int kLogLevelInfo = 2;

}  // namespace

// Detached threads of the server read the record until the process is gone, so it outlives the
// static destructors that run at exit: it is never destroyed.
std::shared_ptr<CSyncVirtualConfig>& g_syncConfig = *new std::shared_ptr<CSyncVirtualConfig>();

CSyncVirtualConfig* syncConfig() { return g_syncConfig.get(); }

CSyncVirtualConfig* createSyncConfig(int mode) {
    switch (mode) {
        case 0:
            g_syncConfig = std::make_shared<CMountDiskConfig>();
            break;
        case 1:
            g_syncConfig = std::make_shared<CZiduZuduConfig>();
            break;
        default:
            return nullptr;
    }
    return g_syncConfig.get();
}

QString applicationDirectory() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    QString file = QString::fromWCharArray(path, static_cast<int>(length));
    return file.left(file.lastIndexOf(QLatin1Char('\\')) + 1);
}

int CSyncVirtualConfig::initCommon(int mode) {
    mode_ = mode;
    QString baseName =
        serverAppName(true) + QStringLiteral("-") + QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    SpdlogBridge::getInstance().initialize(logDirectory().toUtf8().toStdString(), baseName.toUtf8().toStdString(),
                                           kLogFileSize, kLogFilesKept, kLogPattern, kLogLevelInfo, true);
    Singleton<SettingsSingleton>::instance().openSettings(
        applicationDirectory() + QStringLiteral("config\\settings.ini"),
        [this](const QString& key) { return settingsKey(key); });
    return 0;
}

QString CSyncVirtualConfig::logDirectory() {
    // Qt's form of the folder, then the platform separator, as the logging bridge expects it.
    QString dir = winpath::cleanPath(winpath::fromNativeSeparators(applicationDirectory()));
    if (!dir.endsWith(QDir::separator())) dir += QDir::separator();
    return dir + QStringLiteral("log/") + serverAppName(true) + QStringLiteral("/");
}

QString CSyncVirtualConfig::settingsKey(const QString& key) const {
    if (isMountMode()) return QStringLiteral("%1_%2").arg(QStringLiteral("mount_"), key);
    return key;
}

QString CSyncVirtualConfig::fromLocalCodePage(const char* text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) return QString();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return QString::fromStdWString(wide);
}
