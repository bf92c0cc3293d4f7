#include "menu_requests.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <initializer_list>
#include <thread>
#include <utility>

#include "mirror_state.h"
#include "platform/windows.h"

namespace {

constexpr int kFolderType = 2;
constexpr int kFileType = 1;

QString forwardSlashes(QString path) { return QDir::cleanPath(path.replace('\\', '/')); }

std::string utf8(const QString& text) { return text.toStdString(); }

std::string jsonObject(std::initializer_list<std::pair<const char*, QString>> members) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    for (const auto& [name, value] : members) {
        const std::string text = utf8(value);
        writer.Key(name);
        writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
    }
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

bool succeeded(const std::wstring& reply) {
    rapidjson::Document document;
    document.Parse(utf8(QString::fromStdWString(reply)).c_str());
    return document.IsObject() && document.HasMember("code") && document["code"].IsString() &&
           std::string(document["code"].GetString()) == "S_OK";
}

rapidjson::Value text(const QString& value, rapidjson::Document::AllocatorType& allocator) {
    const std::string bytes = utf8(value);
    return rapidjson::Value(bytes.c_str(), static_cast<rapidjson::SizeType>(bytes.size()), allocator);
}

}  // namespace

MenuRequests::MenuRequests(const ClientOptions& options, std::function<void(const std::string&)> log)
    : options_(options), log_(std::move(log)) {
    // Lives as long as the process, like the receiver that owns this.
    std::thread([this] { work(); }).detach();
}

bool MenuRequests::answer(const std::string& command, const std::string& body, std::wstring& reply) {
    if (command == "getFilesInfo") {
        reply = filesInfoReply(itemsOf(body));
        return true;
    }
    if (command == "setKeepDevice" || command == "setReleaseSpace") {
        const std::vector<Item> items = itemsOf(body);
        log_(command + " for " + std::to_string(items.size()) + " cloud items");
        if (command == "setKeepDevice") {
            enqueue([this, items] { keepOnDevice(items); });
        } else {
            enqueue([this, items] { freeUpSpace(items); });
        }
    } else if (command == "setHistoryFile" || command == "addToZiduZudu") {
        log_(command + " asked for " + body);
    } else {
        return false;
    }
    rapidjson::Document document;
    envelope_.returnSuccess(document, reply);
    return true;
}

std::vector<MenuRequests::Item> MenuRequests::itemsOf(const std::string& body) const {
    std::vector<Item> items;
    rapidjson::Document request;
    request.Parse(body.c_str(), body.size());
    if (options_.mountPath.empty() || !request.IsObject() || !request.HasMember("filelist") ||
        !request["filelist"].IsArray()) {
        return items;
    }
    const QString mount = forwardSlashes(QString::fromStdString(options_.mountPath));
    const std::map<QString, CloudItem> cloud = CloudTree(QString::fromStdString(options_.cloudDir)).snapshot();
    for (const auto& entry : request["filelist"].GetArray()) {
        if (!entry.IsString()) continue;
        const QString requested = QString::fromUtf8(entry.GetString(), static_cast<int>(entry.GetStringLength()));
        const QString path = forwardSlashes(requested);
        if (!path.startsWith(mount + "/")) continue;
        auto found = cloud.find(path.mid(mount.size() + 1));
        if (found != cloud.end()) items.push_back({requested, path, found->second});
    }
    return items;
}

std::wstring MenuRequests::filesInfoReply(const std::vector<Item>& items) {
    rapidjson::Document document(rapidjson::kObjectType);
    auto& allocator = document.GetAllocator();
    rapidjson::Value records(rapidjson::kArrayType);
    for (const Item& item : items) {
        const int cut = std::max(item.requested.lastIndexOf('\\'), item.requested.lastIndexOf('/'));
        const QString id = CloudTree::idFor(item.cloud.relativePath);
        rapidjson::Value record(rapidjson::kObjectType);
        record.AddMember("id", text(id, allocator), allocator);
        record.AddMember("sid", text(id, allocator), allocator);
        record.AddMember("filePath", text(item.requested.left(cut), allocator), allocator);
        record.AddMember("fileName", text(item.requested.mid(cut + 1), allocator), allocator);
        record.AddMember("isVirtual", isKeptOnDevice(item.local) ? 0 : 1, allocator);
        record.AddMember("type", item.cloud.isFolder ? kFolderType : kFileType, allocator);
        record.AddMember("lUpdateTime", static_cast<int64_t>(item.cloud.modified), allocator);
        record.AddMember("lCreateTime", static_cast<int64_t>(item.cloud.created), allocator);
        record.AddMember("lAccessTime", static_cast<int64_t>(item.cloud.accessed), allocator);
        record.AddMember("size", static_cast<int64_t>(item.cloud.size), allocator);
        records.PushBack(record, allocator);
    }
    rapidjson::Value var(rapidjson::kObjectType);
    var.AddMember("fileInfos", records, allocator);
    document.AddMember("var", var, allocator);
    std::wstring reply;
    envelope_.returnSuccess(document, reply);
    return reply;
}

void MenuRequests::keepOnDevice(const std::vector<Item>& items) {
    for (const Item& item : items) {
        if (item.cloud.isFolder) continue;
        const QString download = this->download(item.cloud, item.local);
        const bool kept = !download.isEmpty() &&
                          push("pushKeepOnDevice", jsonObject({{"sourcePath", download},
                                                               {"destPath", item.local},
                                                               {"id", CloudTree::idFor(item.cloud.relativePath)}}));
        log_(std::string(kept ? "kept on device " : "could not keep on device ") + utf8(item.cloud.relativePath));
    }
}

void MenuRequests::freeUpSpace(const std::vector<Item>& items) {
    std::size_t sent = 0;
    std::size_t freed = 0;
    for (const Item& item : items) {
        if (item.cloud.isFolder) continue;
        ++sent;
        const QString id = CloudTree::idFor(item.cloud.relativePath);
        if (push("pushFreeUpSpace", jsonObject({{"filePath", item.local}, {"id", id}}))) ++freed;
    }
    log_("pushFreeUpSpace sent for " + std::to_string(sent) + " files, " + std::to_string(freed) + " answered S_OK");
}

bool MenuRequests::updateHydrated(const QString& relativePath) {
    const QString local = forwardSlashes(QString::fromStdString(options_.mountPath)) + "/" + relativePath;
    const DWORD attributes = GetFileAttributesW(local.toStdWString().c_str());
    const DWORD notLocal = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS;
    if (options_.mountPath.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & notLocal)) return false;
    CloudItem item;
    item.relativePath = relativePath;
    const QString download = this->download(item, local);
    const bool updated =
        !download.isEmpty() &&
        push("pushUpdateFile",
             jsonObject({{"sourcePath", download}, {"destPath", local}, {"id", CloudTree::idFor(relativePath)}}));
    log_(std::string(updated ? "updated " : "could not update ") + utf8(relativePath));
    return true;
}

QString MenuRequests::download(const CloudItem& item, const QString& local) const {
    const QFileInfo destination(local);
    const QString temporary = destination.path() + "/." + destination.fileName() + ".download";
    QFile::remove(temporary);
    const QString source = QString::fromStdString(options_.cloudDir) + "/" + item.relativePath;
    return QFile::copy(source, temporary) ? temporary : QString();
}

bool MenuRequests::push(const char* command, const std::string& body) {
    std::wstring reply;
    const int result = channel_->request(QString::fromStdString(command + ("\r\n" + body)).toStdWString(), reply);
    if (result == kIpcRequestOk && succeeded(reply)) return true;
    log_(std::string(command) + " " + body + " failed: " + utf8(QString::fromStdWString(reply)));
    return false;
}

void MenuRequests::enqueue(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void MenuRequests::work() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return !jobs_.empty(); });
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}
