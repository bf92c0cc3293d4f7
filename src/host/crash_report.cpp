#include "host/crash_report.h"

#include <memory>
#include <string>
#include <thread>

#include "host/build_info.h"
#include "host/sync_virtual_config.h"
#include "platform/crashrpt.h"
#include "platform/win_module.h"
#include "suite/base/get_pid.h"
#include "suite/base/settings_singleton.h"
#include "suite/base/sys_info.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr quint32 kDefaultSendInterval = 216;
constexpr quint32 kNeverArmed = 0xFFFFFFFFu;
constexpr int kHeaderCapacity = 1027;
constexpr int kScreenshotQuality = 95;
constexpr UINT kErrorMessageCapacity = 256;
const QString kIntervalKey = QStringLiteral("SendMountCrashRptMinIntervel");
const QString kArmedTimeKey = QStringLiteral("MountCrashRptTime");
const QString kAccListKey = QStringLiteral("acclist");

SettingsSingleton& settings() { return Singleton<SettingsSingleton>::instance(); }

// "git8.8.0.20260828": the build as the report subject and properties name it.
QString compileVersion() {
    return QStringLiteral("git") + QString::fromLatin1(nimbrel::build::kVersion).replace(':', '_');
}

quint32 unixSeconds(const QDateTime& time) {
    return time.isValid() ? static_cast<quint32>(time.toSecsSinceEpoch()) : kNeverArmed;
}

std::wstring wide(const QString& text) { return text.toStdWString(); }

void attachFiles(CSyncVirtualConfig& config, const QString& startTime) {
    crAddScreenshot2(CR_AS_MAIN_WINDOW | CR_AS_USE_JPEG_FORMAT, kScreenshotQuality);

    const QString appDir = applicationDirectory();
    crAddFile2W(wide(appDir + QStringLiteral("config\\config.ini")).c_str(), nullptr, L"ini file",
                CR_AF_MAKE_FILE_COPY);

    // The report should always carry the settings; a first start has not written them yet.
    if (!settings().exists()) settings().setValue(kAccListKey, QString());
    crAddFile2W(wide(appDir + QStringLiteral("config\\settings.ini")).c_str(), nullptr, L"ini file",
                CR_AF_MAKE_FILE_COPY);

    const QString logFile = config.logDirectory() + config.serverAppName(true) + QStringLiteral("-") +
                            QString::number(GetPid()) + QStringLiteral(".log");
    crAddFile2W(wide(logFile).c_str(), nullptr, L"log file", CR_AF_MAKE_FILE_COPY);

    crAddPropertyW(L"CompileVersion", wide(compileVersion()).c_str());
    crAddPropertyW(L"StartRunTime", wide(startTime).c_str());
}

void rearmCrashRptSending(const CrashRptClock& clock) {
    crUninstall();
    InstallCrashRpt(crashReportVersion(QString::fromLatin1(nimbrel::build::kVersion)), true);
    settings().setValue(kArmedTimeKey, clock.now());
}

}  // namespace

QString crashReportVersion(const QString& version) {
    int dot = version.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0) return QString::fromLatin1(nimbrel::build::kFallbackVersion);
    return version.left(dot);
}

QString crashReportHeader(const QString& startTime, const QString& osName, const QString& accList) {
    QString header =
        QStringLiteral("compiletime:  %1 %2\r\nstarttime:  %3\r\nOSVersion:  %4\r\naccList:  %5")
            .arg(QString::fromLatin1(nimbrel::build::kBuildDate), QString::fromLatin1(nimbrel::build::kBuildTime),
                 startTime, osName, accList == QLatin1String("false") ? QString() : accList);
    return header.left(kHeaderCapacity - 1);
}

CrashRptThrottle crashRptThrottle(quint32 nowSeconds, quint32 lastArmedSeconds, quint32 interval) {
    CrashRptThrottle throttle;
    throttle.interval = interval;
    throttle.elapsed = nowSeconds - lastArmedSeconds;
    return throttle;
}

void InstallCrashRpt(const QString& version, bool sendNow) {
    CSyncVirtualConfig& config = *g_syncConfig;
    const QString startTime = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const std::wstring appName = wide(config.serverAppName(true));
    const std::wstring appVersion = wide(version);
    const std::wstring subject =
        wide(config.serverAppName(true) + QStringLiteral("-") + compileVersion() + QStringLiteral("-") +
             QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss")));
    const std::wstring saveDir = wide(QStringLiteral("%1\\crashlogs").arg(applicationDirectory()));
    const std::wstring header = wide(
        crashReportHeader(startTime, SysInfo::instance().GetOSName(), settings().getValue(kAccListKey).toString()));
    const std::wstring smtpServer = std::wstring(nimbrel::build::kCrashReportSmtpServer) + L":25";

    wchar_t modulePath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    const std::wstring senderIcon = std::wstring(modulePath) + L", 0";

    CR_INSTALL_INFOW info = {};
    info.cb = sizeof(info);
    info.pszAppName = appName.c_str();
    info.pszAppVersion = appVersion.c_str();
    info.pszEmailTo = nimbrel::build::kCrashReportMailbox;
    info.pszEmailSubject = subject.c_str();
    info.uPriorities[CR_HTTP] = CR_NEGATIVE_PRIORITY;
    info.uPriorities[CR_SMTP] = 1;
    info.uPriorities[CR_SMAPI] = CR_NEGATIVE_PRIORITY;
    info.dwFlags = CR_INST_ALL_POSSIBLE_HANDLERS | CR_INST_NO_GUI;
    if (!sendNow) info.dwFlags |= CR_INST_DONT_SEND_REPORT;
    info.pszDebugHelpDLL = nullptr;
    info.uMiniDumpType = MiniDumpNormal;
    info.pszErrorReportSaveDir = saveDir.c_str();
    info.pszRestartCmdLine = L"-restartfromcrash";
    info.nRestartTimeout = 1;
    info.pszEmailText = header.c_str();
    info.pszSmtpProxy = smtpServer.c_str();
    info.pszSmtpLogin = nimbrel::build::kCrashReportMailbox;
    info.pszSmtpPassword = nimbrel::build::kCrashReportSmtpPassword;
    info.pszCustomSenderIcon = senderIcon.c_str();

    if (crInstallW(&info) != 0) {
        wchar_t message[kErrorMessageCapacity] = {};
        crGetLastErrorMsgW(message, kErrorMessageCapacity);
        NIMBREL_LOG_AT(3, 324) << "InstallCrashRpt"
                               << " install crashreport faild,err msg" << message;
        crUninstall();
        return;
    }
    attachFiles(config, startTime);
    LOG_INFO << "crash reporting installed, version:" << version << ", send:" << sendNow;
}

CrashRptClock CrashRptClock::system() {
    CrashRptClock clock;
    clock.now = [] { return QDateTime::currentDateTime(); };
    clock.sleep = [](std::chrono::seconds duration) { std::this_thread::sleep_for(duration); };
    return clock;
}

void setUpCrashReporting(const QString& clientVersion, const CrashRptClock& clock) {
    // The delayed re-arm reads these after start-up has moved on; they live as long as the process.
    static CrashRptThrottle throttle;
    static CrashRptClock rearmClock;

    const QString version = crashReportVersion(clientVersion);
    quint32 interval = settings().getValue(kIntervalKey).toUInt();
    if (interval == 0) {
        interval = kDefaultSendInterval;
        settings().setValue(kIntervalKey, interval);
    }
    const QDateTime now = clock.now();
    throttle =
        crashRptThrottle(unixSeconds(now), unixSeconds(settings().getValue(kArmedTimeKey).toDateTime()), interval);

    if (throttle.sendNow()) {
        InstallCrashRpt(version, true);
        settings().setValue(kArmedTimeKey, now);
        return;
    }
    InstallCrashRpt(version, false);
    rearmClock = clock;
    std::thread([] {
        rearmClock.sleep(std::chrono::seconds(throttle.interval - throttle.elapsed));
        rearmCrashRptSending(rearmClock);
    }).detach();
}
