#pragma once
// One record of the main client's "getFilesInfo" answer: what the cloud knows of a local item.

#include <QString>

struct ClientFileInfo {
    QString id;
    QString sid;       // the cloud identity; empty for an item the cloud has not stored yet
    QString filePath;  // the containing folder
    QString fileName;
    int isVirtual = 0;
    int type = 0;  // 2: folder
    qint64 lUpdateTime = 0;
    qint64 lCreateTime = 0;
    qint64 lAccessTime = 0;
    qint64 size = 0;
};
