#pragma once
// The file-info record the main client pushes for one item ("pushFileSystem" elements,
// "pushFileAdd", "pushFileStatus"), read and checked in one place so that a record that lacks a
// required key, or carries one of another type, is refused before anything on disk is touched.

#include <rapidjson/document.h>

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string>

#include "cfapi/placeholder_item_info.h"

struct PushFileRecord {
    static constexpr int kFolderType = 2;

    std::string id;
    QString filePath;  // batch and status: the folder; pushFileAdd: the item itself
    QString fileName;  // batch and status only
    int type = 0;
    int isVirtual = 0;
    std::int64_t size = 0;
    std::int64_t creationTime = 0;
    std::int64_t modificationTime = 0;
    std::int64_t accessTime = 0;
    bool preserveNativeFileTime = false;
    bool inUpQueue = false;
    int status = 0;
    bool allowCreateMissingPlaceholder = true;

    bool isFolder() const { return type == kFolderType; }
    bool isLocalOnly() const { return id == "-1"; }
    // The client's final states of an item: fully synced.
    bool isFinalStatus() const { return status == 3 || status == 103; }
    QByteArray identity() const { return QByteArray::fromStdString(id); }
    // The batch and status variants' item path: folder + "\" + name, exactly as received.
    QString itemPath() const { return filePath + "\\" + fileName; }
    // The item the Cloud Files operations take for `path`, its times normalized.
    PlaceholderItemInfo placeholderItem(const QString& path) const;
};

// Reads `value` into `record`. With `withFileName` (batch and status shapes) "fileName" is
// required too. False, with `problem` naming the first bad key, when a required key is missing or
// of another type; the text members that could be read are filled all the same, so the refusal
// can name the item.
bool readPushFileRecord(const rapidjson::Value& value, bool withFileName, PushFileRecord& record, std::string& problem);

// Names of the temporary copies the hard-link repair works through; they are never projected.
bool isHardLinkRepairTempName(const QString& path);
