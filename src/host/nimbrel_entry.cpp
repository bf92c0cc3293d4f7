#include "host/nimbrel_entry.h"

#include <QApplication>
#include <QStringList>
#include <QVariant>
#include <cstring>
#include <memory>

#include "cfapi/cf_api_wrapper.h"
#include "host/build_info.h"
#include "host/crash_report.h"
#include "host/qt_message_handler.h"
#include "host/sync_virtual_config.h"
#include "ipc/service_ipc_manager.h"
#include "ipc/shell_refresh.h"
#include "platform/win_com.h"
#include "platform/win_console.h"
#include "platform/win_error.h"
#include "platform/win_handle.h"
#include "platform/win_sync.h"
#include "shell/shell_folder_utils.h"
#include "socket/detached_thread.h"
#include "socket/socket_api.h"
#include "suite/account/account_common.h"
#include "suite/base/utility.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

// Held, never closed, for the life of the process: it is what tells a second start to go away.
HANDLE g_instanceMutex = nullptr;

// The server never shows a window; without a display Qt would refuse to build the application
// object, so it renders off screen unless the environment chose a platform.
void chooseQtPlatform() {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

// False when a server of the same mode already holds the mutex.
bool claimSingleInstance(CSyncVirtualConfig& config) {
    const std::wstring name = config.serverAppName(true).toStdWString();
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        return false;
    }
    g_instanceMutex = mutex;
    return true;
}

QString clientVersion() {
    QString version = AccountCommon::getVersion();
    return version.isEmpty() ? QString::fromLatin1(nimbrel::build::kVersion) : version;
}

// Every sync root the main client recorded for its accounts under the suite's key.
void unregisterRecordedSyncRoots() {
    const QString product = QStringLiteral("SOFTWARE\\Tellwick\\Orvane");
    QStringList paths;
    Utility::registryWalkSubKeys(
        HKEY_CURRENT_USER, product,
        [&](HKEY, const QString& name) {
            QString path =
                Utility::registryGetKeyValue(HKEY_CURRENT_USER, product + "\\" + name, "syncPath", true).toString();
            if (!path.isEmpty()) paths << path;
        },
        true);
    for (const QString& path : paths) CfApiWrapper::unregisterSyncRoot(path);
}

}  // namespace

int NimbrelEntry(int mode, int argc, char** argv) {
    CSyncVirtualConfig* config = createSyncConfig(mode);
    if (!config) return -1;
    config->init(mode);

    chooseQtPlatform();
    // Qt's services only: its event loop never runs, the host thread parks below instead.
    auto application = std::make_unique<QApplication>(argc, argv);

    if (argc == 2 && std::strcmp(argv[1], "uninstall") == 0) {
        unregisterRecordedSyncRoots();
        application.reset();
        return 0;
    }

    if (!claimSingleInstance(*config)) return 0;

    SetConsoleOutputCP(CP_UTF8);
    installQtMessageHandler();

    const QString version = clientVersion();
    NIMBREL_LOG_AT(2, 430) << "main_entry"
                           << ", Client Name:" << nimbrel::build::kClientName << ", Version:" << version;

    setUpCrashReporting(version, CrashRptClock::system());

    // The context-menu socket server: Winsock, then the server, which publishes its port.
    startSocketServer();

    // The IPC service: module, channel, ready poll, then the client is told the server is up.
    // Its projection tells Explorer through the coalescing shell refresh.
    CServiceIpcManager::instance().setProjectionShellRefresh(&CShellRefresh::instance());
    CServiceIpcManager::instance().startIpcService();

    CoInitialize(nullptr);

    // The navigation-pane folder stays hidden, now and after every change the main client makes.
    ShellFolderUtils::checkAndSwitchShellFoler();
    startDetachedThread(&ShellFolderUtils::monitorShellFolder);

    for (;;) Sleep(1000);
}
