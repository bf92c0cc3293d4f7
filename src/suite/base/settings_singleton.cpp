#include "suite/base/settings_singleton.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "platform/platform_paths.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

QString hostPath(const QString& path) {
    return QString::fromStdString(nimbrel::platform::toHostPath(path.toStdString()));
}

}  // namespace

void SettingsSingleton::openSettings(const QString& path, KeyMapping keyMapping) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = hostPath(path);
    keyMapping_ = std::move(keyMapping);
}

QString SettingsSingleton::storedKey(const QString& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return keyMapping_ ? keyMapping_(key) : key;
}

QVariant SettingsSingleton::getValue(const QString& key, const QVariant& defaultValue) {
    const QString stored = storedKey(key);
    std::lock_guard<std::mutex> lock(mutex_);
    if (path_.isEmpty()) return defaultValue;
    // A fresh QSettings re-reads the file when another process has changed it since our last look
    // (Qt tells by the file's size and modification time, to the millisecond).
    QSettings settings(path_, QSettings::IniFormat);
    return settings.value(stored, defaultValue);
}

void SettingsSingleton::setValue(const QString& key, const QVariant& value) {
    const QString stored = storedKey(key);
    std::lock_guard<std::mutex> lock(mutex_);
    if (path_.isEmpty()) {
        LOG_WARN << "settings not opened, key dropped:" << stored;
        return;
    }
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSettings settings(path_, QSettings::IniFormat);
    settings.setValue(stored, value);
    // sync() takes the file's lock, merges what other processes wrote meanwhile and writes the
    // file back, so writers of different keys never lose each other's values.
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        LOG_ERROR << "cannot write settings file " << path_ << " status " << static_cast<int>(settings.status());
    }
}

QString SettingsSingleton::filePath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

bool SettingsSingleton::exists() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !path_.isEmpty() && QFileInfo::exists(path_);
}
