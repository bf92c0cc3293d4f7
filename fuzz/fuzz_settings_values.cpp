// The shared settings file is written by every process of the suite and by hand: any text in it
// must read back as the values start-up takes from it (crash-report interval, last arming time,
// account list) without harm.
#include <QDateTime>
#include <QFile>
#include <QString>
#include <cstdlib>

#include "fuzz_env.h"
#include "host/crash_report.h"
#include "suite/base/settings_singleton.h"
#include "suite/base/singleton.h"

namespace {

QString settingsPath() { return QString::fromUtf8(std::getenv("TMPDIR")) + "/settings.ini"; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    nimbrel::fuzz::useFreshPlatformFolders();
    Singleton<SettingsSingleton>::instance().openSettings(
        settingsPath(), [](const QString& key) { return QStringLiteral("mount_") + key; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A new file each time: truncating the last one made the file system write its blocks out
    // first, which cost more than reading the settings.
    QFile::remove(settingsPath());
    QFile file(settingsPath());
    if (!file.open(QIODevice::WriteOnly)) std::abort();
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    if (!file.flush()) std::abort();
    // Qt reads a settings file again only when its size or its modification time (to the
    // millisecond) changed: a time of its own for each input makes every input read its own text.
    static qint64 stamp = 0;
    if (!file.setFileTime(QDateTime::fromMSecsSinceEpoch(++stamp), QFileDevice::FileModificationTime)) std::abort();
    file.close();
    SettingsSingleton& settings = Singleton<SettingsSingleton>::instance();
    const quint32 interval = settings.getValue("SendMountCrashRptMinIntervel").toUInt();
    const QDateTime armed = settings.getValue("MountCrashRptTime").toDateTime();
    const quint32 armedSeconds = armed.isValid() ? static_cast<quint32>(armed.toSecsSinceEpoch()) : 4294967295u;
    const CrashRptThrottle throttle =
        crashRptThrottle(static_cast<quint32>(QDateTime::currentSecsSinceEpoch()), armedSeconds, interval);
    if (throttle.remainingSeconds() > interval) std::abort();
    crashReportHeader(QStringLiteral("2026-01-01 00:00:00"), QStringLiteral("Linux"),
                      settings.getValue("acclist").toString());
    return 0;
}
