// A second process for the settings tests: opens the shared settings file with the mapping of a
// mode and reads or writes keys, the way another server of the suite would.
//   settings_tool PATH MODE get KEY
//   settings_tool PATH MODE set KEY VALUE
//   settings_tool PATH MODE fill PREFIX COUNT GOFILE   (waits for GOFILE, then sets PREFIX0..)
#include <QFileInfo>
#include <QString>
#include <chrono>
#include <cstdio>
#include <thread>

#include "suite/base/settings_singleton.h"

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    const QString path = QString::fromUtf8(argv[1]);
    const bool mountMode = QString::fromUtf8(argv[2]) == QLatin1String("0");
    const QString command = QString::fromUtf8(argv[3]);
    auto& settings = Singleton<SettingsSingleton>::instance();
    settings.openSettings(path, [mountMode](const QString& key) {
        return mountMode ? QString("%1_%2").arg(QStringLiteral("mount_"), key) : key;
    });

    if (command == QLatin1String("get")) {
        std::printf("%s\n", settings.getValue(QString::fromUtf8(argv[4])).toString().toUtf8().constData());
        return 0;
    }
    if (command == QLatin1String("set") && argc == 6) {
        settings.setValue(QString::fromUtf8(argv[4]), QString::fromUtf8(argv[5]));
        return 0;
    }
    if (command == QLatin1String("fill") && argc == 7) {
        const QString prefix = QString::fromUtf8(argv[4]);
        const int count = QString::fromUtf8(argv[5]).toInt();
        // Both writers start together so that their writes interleave.
        while (!QFileInfo::exists(QString::fromUtf8(argv[6])))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int i = 0; i < count; ++i) settings.setValue(prefix + QString::number(i), i);
        return 0;
    }
    return 2;
}
