#pragma once
// The suite's shared settings store: an INI file (QSettings) that several processes share.
// A key mapping given at opening turns every key into its stored name, so that two servers can
// keep their own keys in one file.

#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <mutex>

#include "suite/base/singleton.h"

class QSettings;

class SettingsSingleton {
public:
    using KeyMapping = std::function<QString(const QString&)>;

    // `path` may be in Windows form ("\" separators); missing folders are created on first write.
    void openSettings(const QString& path, KeyMapping keyMapping);
    // Every call re-reads the file, so values written by another process are seen. Before
    // openSettings every key answers its default.
    QVariant getValue(const QString& key, const QVariant& defaultValue = QVariant());
    // Written to the file at once; keys that other processes wrote meanwhile are kept.
    void setValue(const QString& key, const QVariant& value);
    // The stored name of `key` after the mapping.
    QString storedKey(const QString& key) const;
    // The host path of the settings file ("/opt/app/config/settings.ini").
    QString filePath() const;
    // Whether the settings file exists yet.
    bool exists() const;

private:
    friend class Singleton<SettingsSingleton>;
    SettingsSingleton() = default;

    mutable std::mutex mutex_;
    QString path_;
    KeyMapping keyMapping_;
};
