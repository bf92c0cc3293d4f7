#include "suite/base/settings_singleton.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <cerrno>

#include "platform/platform_paths.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

QString hostPath(const QString& path) {
    return QString::fromStdString(nimbrel::platform::toHostPath(path.toStdString()));
}

// Held while one write reads, merges and writes the file back, so the writers of all processes take
// turns: with QSettings' own lock file alone, two processes writing 60 keys each lost one key in
// about one run of 70 under load. Private to the user, so nobody else can hold it, and released by
// the system when its holder ends.
class WriterTurn {
public:
    explicit WriterTurn(const QString& settingsPath)
        : fd_(::open((settingsPath + QStringLiteral(".writer")).toLocal8Bit().constData(),
                     O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ < 0) {
            LOG_WARN << "cannot open the settings writer lock for " << settingsPath;
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~WriterTurn() {
        if (fd_ >= 0) ::close(fd_);
    }
    WriterTurn(const WriterTurn&) = delete;
    WriterTurn& operator=(const WriterTurn&) = delete;

private:
    int fd_;
};

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
    WriterTurn turn(path_);
    QSettings settings(path_, QSettings::IniFormat);
    settings.setValue(stored, value);
    // sync() merges what other processes wrote meanwhile and writes the file back.
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
