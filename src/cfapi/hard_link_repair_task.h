#pragma once
// A hard-linked file waiting to be copied apart and converted, and the two notices the main client
// gets about it (installed by the IPC side, which owns the channel).

#include <QByteArray>
#include <QString>
#include <functional>

#include "cfapi/placeholder_item_info.h"

struct HardLinkRepairTask {
    QString path;  // native clean path
    PlaceholderItemInfo item;
    qint64 size = 0;
    QByteArray identity;  // UTF-8
    QString pinSourcePath;
    QString tempPath;  // native clean form of CfApiWrapper::repairTempPath(path)
};

struct HardLinkRepairNotices {
    std::function<void(const QString& path, const QString& tempPath)> started;
    std::function<void(const QString& path, bool updateLsid)> finished;
};
