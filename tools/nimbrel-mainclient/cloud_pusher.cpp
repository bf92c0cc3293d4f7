#include "cloud_pusher.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <thread>

#include "mirror_state.h"
#include "mount_command.h"

namespace {

constexpr int kFolderType = 2;
constexpr int kFileType = 1;
// The client's final sync status of an item.
constexpr int kStatusSynced = 3;

QString parentOf(const QString& relativePath) {
    const int cut = relativePath.lastIndexOf('/');
    return cut < 0 ? QString() : relativePath.left(cut);
}

QString nameOf(const QString& relativePath) { return relativePath.mid(relativePath.lastIndexOf('/') + 1); }

bool succeeded(const std::string& reply) {
    rapidjson::Document document;
    document.Parse(reply.c_str());
    return document.IsObject() && document.HasMember("code") && document["code"].IsString() &&
           std::string(document["code"].GetString()) == "S_OK";
}

}  // namespace

CloudPusher::CloudPusher(IIpcInterface* channel, const ClientOptions& options,
                         std::function<void(const std::string&)> log)
    : channel_(channel), options_(options), log_(std::move(log)), tree_(QString::fromStdString(options.cloudDir)) {}

QString CloudPusher::localPath(const QString& relativePath) const {
    const QString mount = QString::fromStdString(options_.mountPath);
    return relativePath.isEmpty() ? mount : mount + "/" + relativePath;
}

bool CloudPusher::request(const std::string& command, const std::string& body, std::string& reply) {
    std::wstring answer;
    const int result = channel_->request(QString::fromStdString(command + "\r\n" + body).toStdWString(), answer);
    reply = QString::fromStdWString(answer).toStdString();
    if (result == kIpcRequestOk) return true;
    log_(command + " not answered (" + std::to_string(result) + ")");
    return false;
}

bool CloudPusher::mount() {
    std::string reply;
    if (!request("mountMirror", mountBody(options_.mountPath, options_), reply)) return false;
    log_("mounted " + options_.mountPath + " " + reply);
    return succeeded(reply);
}

std::string CloudPusher::record(const CloudItem& item, bool withFileName, bool kept) const {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    const std::string id = CloudTree::idFor(item.relativePath).toStdString();
    const std::string path =
        (withFileName ? localPath(parentOf(item.relativePath)) : localPath(item.relativePath)).toStdString();
    writer.StartObject();
    writer.Key("id");
    writer.String(id.c_str());
    writer.Key("filePath");
    writer.String(path.c_str());
    if (withFileName) {
        const std::string name = nameOf(item.relativePath).toStdString();
        writer.Key("fileName");
        writer.String(name.c_str());
    } else {
        writer.Key("status");
        writer.Int(kStatusSynced);
    }
    writer.Key("type");
    writer.Int(item.isFolder ? kFolderType : kFileType);
    writer.Key("isVirtual");
    writer.Int(kept ? 0 : 1);
    writer.Key("size");
    writer.Int64(item.size);
    writer.Key("lCreateTime");
    writer.Int64(item.created);
    writer.Key("lUpdateTime");
    writer.Int64(item.modified);
    writer.Key("lAccessTime");
    writer.Int64(item.accessed);
    writer.EndObject();
    return buffer.GetString();
}

bool CloudPusher::pushTree() {
    QElapsedTimer timer;
    timer.start();
    const std::vector<CloudItem> items = tree_.scan();
    // Every folder first, in order, so that no file is pushed before its folder exists; then the
    // files from several senders at once, since the server projects batches side by side.
    std::vector<const CloudItem*> folders;
    std::vector<const CloudItem*> files;
    for (const CloudItem& item : items) (item.isFolder ? folders : files).push_back(&item);
    TreeProgress progress{timer, items.size()};
    const std::set<QString> local = localItems();
    if (!pushBatches(folders, 1, local, progress) || !pushBatches(files, kSenders, local, progress)) return false;
    for (const CloudItem& item : items) pushed_[item.relativePath] = item;
    log_("pushed " + std::to_string(items.size()) + " items in " + std::to_string(timer.elapsed()) + " ms, " +
         std::to_string(progress.failedBatches) + " batches with failures");
    return true;
}

bool CloudPusher::pushBatches(const std::vector<const CloudItem*>& items, unsigned senders,
                              const std::set<QString>& local, TreeProgress& progress) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> unanswered{false};
    auto send = [&] {
        for (std::size_t start; !unanswered && (start = next.fetch_add(kBatchSize)) < items.size();) {
            const std::size_t end = std::min(items.size(), start + kBatchSize);
            std::string body = "{\"fileInfo\":[";
            for (std::size_t i = start; i < end; ++i) {
                const QString& path = items[i]->relativePath;
                const bool kept = local.count(path) && isKeptOnDevice(localPath(path));
                body += (i > start ? "," : "") + record(*items[i], true, kept);
            }
            std::string reply;
            if (!request("pushFileSystem", body + "]}", reply)) {
                unanswered = true;
                return;
            }
            progress.done(end - start, succeeded(reply), log_);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < senders; ++i) threads.emplace_back(send);
    send();
    for (auto& thread : threads) thread.join();
    return !unanswered;
}

std::set<QString> CloudPusher::localItems() const {
    std::set<QString> items;
    const QDir mount(QString::fromStdString(options_.mountPath));
    QDirIterator it(mount.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) items.insert(mount.relativeFilePath(it.next()));
    return items;
}

void CloudPusher::TreeProgress::done(std::size_t batchItems, bool succeeded,
                                     const std::function<void(const std::string&)>& log) {
    std::lock_guard<std::mutex> lock(mutex);
    pushedItems += batchItems;
    if (!succeeded) ++failedBatches;
    // A large tree takes a while: say how far it got every few seconds.
    const qint64 elapsed = timer.elapsed();
    if (pushedItems == totalItems || elapsed - lastReportMs < kProgressIntervalMs) return;
    lastReportMs = elapsed;
    log("pushing: " + std::to_string(pushedItems) + " of " + std::to_string(totalItems) + " items, " +
        std::to_string(static_cast<qint64>(pushedItems) * 1000 / std::max<qint64>(1, elapsed)) + " items/s");
}

void CloudPusher::pushChanges() {
    const std::map<QString, CloudItem> now = tree_.snapshot();
    std::map<QString, CloudItem> next = now;
    std::string reply;
    for (const auto& [path, item] : now) {
        auto before = pushed_.find(path);
        if (before != pushed_.end() && before->second.sameContent(item)) continue;
        if (before != pushed_.end() && !item.isFolder && updateContent_ && updateContent_(path)) continue;
        if (request("pushFileAdd", record(item, false, isKeptOnDevice(localPath(path))), reply)) {
            log_("pushFileAdd " + path.toStdString() + " " + reply);
        } else if (before != pushed_.end()) {
            // Not delivered (the server may be starting again): the next poll pushes it again.
            next[path] = before->second;
        } else {
            next.erase(path);
        }
    }
    // The client removes what left the cloud and has the parent folder refreshed.
    for (const auto& [path, item] : pushed_) {
        const QString parent = parentOf(path);
        auto folder = now.find(parent);
        // A removed folder goes with everything in it.
        if (now.count(path) || (!parent.isEmpty() && folder == now.end())) continue;
        const QString local = localPath(path);
        const bool removed = item.isFolder ? QDir(local).removeRecursively() : QFile::remove(local);
        log_("removed " + path.toStdString() + (removed ? "" : " (failed)"));
        if (folder != now.end() &&
            request("pushFileAdd", record(folder->second, false, isKeptOnDevice(localPath(parent))), reply)) {
            log_("pushFileAdd " + parent.toStdString() + " " + reply);
        }
    }
    pushed_ = std::move(next);
}
