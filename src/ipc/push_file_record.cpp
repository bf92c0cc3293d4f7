#include "ipc/push_file_record.h"

#include <algorithm>

namespace {

using Member = rapidjson::Value::ConstMemberIterator;

bool find(const rapidjson::Value& value, const char* name, Member& member) {
    member = value.FindMember(name);
    return member != value.MemberEnd();
}

bool readString(const rapidjson::Value& value, const char* name, QString& out) {
    Member member;
    if (!find(value, name, member) || !member->value.IsString()) return false;
    out = QString::fromUtf8(member->value.GetString(), static_cast<int>(member->value.GetStringLength()));
    return true;
}

bool readInt(const rapidjson::Value& value, const char* name, int& out) {
    Member member;
    if (!find(value, name, member) || !member->value.IsInt()) return false;
    out = member->value.GetInt();
    return true;
}

bool readInt64(const rapidjson::Value& value, const char* name, std::int64_t& out) {
    Member member;
    if (!find(value, name, member) || !member->value.IsInt64()) return false;
    out = member->value.GetInt64();
    return true;
}

bool readBool(const rapidjson::Value& value, const char* name, bool fallback) {
    Member member;
    return find(value, name, member) && member->value.IsBool() ? member->value.GetBool() : fallback;
}

}  // namespace

bool readPushFileRecord(const rapidjson::Value& value, bool withFileName, PushFileRecord& record,
                        std::string& problem) {
    if (!value.IsObject()) {
        problem = "record";
        return false;
    }
    const bool hasPath = readString(value, "filePath", record.filePath);
    const bool hasName = !withFileName || readString(value, "fileName", record.fileName);
    Member id;
    const bool hasId = find(value, "id", id) && id->value.IsString();
    if (hasId) record.id.assign(id->value.GetString(), id->value.GetStringLength());
    const std::pair<const char*, bool> required[] = {
        {"id", hasId},
        {"filePath", hasPath},
        {"fileName", hasName},
        {"type", readInt(value, "type", record.type)},
        {"isVirtual", readInt(value, "isVirtual", record.isVirtual)},
        {"size", readInt64(value, "size", record.size)},
        {"lCreateTime", readInt64(value, "lCreateTime", record.creationTime)},
        {"lUpdateTime", readInt64(value, "lUpdateTime", record.modificationTime)},
        {"lAccessTime", readInt64(value, "lAccessTime", record.accessTime)},
    };
    for (const auto& [name, present] : required) {
        if (!present) {
            problem = name;
            return false;
        }
    }
    record.preserveNativeFileTime = readBool(value, "preserveNativeFileTime", false);
    record.inUpQueue = readBool(value, "bInUpQueue", false);
    readInt(value, "status", record.status);
    record.allowCreateMissingPlaceholder = readBool(value, "allowCreateMissingPlaceholder", true);
    return true;
}

bool isHardLinkRepairTempName(const QString& path) {
    const int cut = std::max(path.lastIndexOf('\\'), path.lastIndexOf('/'));
    const QString name = path.mid(cut + 1);
    return name.contains(".hardlink_repair", Qt::CaseInsensitive) && name.endsWith(".tmp", Qt::CaseInsensitive);
}

PlaceholderItemInfo PushFileRecord::placeholderItem(const QString& path) const {
    PlaceholderItemInfo item;
    item.path = path.toStdWString();
    item.type = type;
    item.creationTime = creationTime;
    item.modificationTime = modificationTime;
    item.accessTime = accessTime;
    item.normalizeTimes();
    return item;
}
