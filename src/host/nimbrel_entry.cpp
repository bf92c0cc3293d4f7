#include "host/nimbrel_entry.h"

#include <QApplication>
#include <memory>

#include "host/build_info.h"
#include "host/crash_report.h"
#include "host/qt_message_handler.h"
#include "host/sync_virtual_config.h"
#include "platform/win_com.h"
#include "platform/win_console.h"
#include "platform/win_error.h"
#include "platform/win_handle.h"
#include "platform/win_sync.h"
#include "suite/account/account_common.h"
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

}  // namespace

int NimbrelEntry(int mode, int argc, char** argv) {
    CSyncVirtualConfig* config = createSyncConfig(mode);
    if (!config) return -1;
    config->init(mode);

    chooseQtPlatform();
    // Qt's services only: its event loop never runs, the host thread parks below instead.
    auto application = std::make_unique<QApplication>(argc, argv);

    if (!claimSingleInstance(*config)) return 0;

    SetConsoleOutputCP(CP_UTF8);
    installQtMessageHandler();

    const QString version = clientVersion();
    NIMBREL_LOG_AT(2, 430) << "main_entry"
                           << ", Client Name:" << nimbrel::build::kClientName << ", Version:" << version;

    setUpCrashReporting(version, CrashRptClock::system());

    CoInitialize(nullptr);

    for (;;) Sleep(1000);
}
