#pragma once
// Plays the main client's half of the projection for the reference cloud: mounts the mirror,
// pushes the whole tree in "pushFileSystem" batches (online-only, but for what the user kept on
// this device), then pushes every change it finds in the cloud folder as "pushFileAdd".

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "client_options.h"
#include "cloud_tree.h"
#include "suite/ipcmodule/ipc_interface.h"

class CloudPusher {
public:
    // Small enough that a batch is answered well within the channel's time-out on a slow disk.
    static constexpr int kBatchSize = 100;
    static constexpr qint64 kProgressIntervalMs = 5000;
    // Batches of files in flight at once: the server projects them side by side.
    static constexpr unsigned kSenders = 2;

    CloudPusher(IIpcInterface* channel, const ClientOptions& options, std::function<void(const std::string&)> log);

    // Sends "mountMirror" for the mount folder; false when the server refused it.
    bool mount();
    // Pushes every item of the cloud and reports the count and the time it took; false when a
    // batch was not answered.
    bool pushTree();
    // Compares the cloud with what was pushed last and pushes the differences.
    void pushChanges();
    // Offered every file whose content changed; true when it took the new content to the local
    // copy itself, so that no new state is pushed for it.
    void setContentUpdater(std::function<bool(const QString& relativePath)> updater) {
        updateContent_ = std::move(updater);
    }

private:
    // How far a tree push got, shared by its senders.
    struct TreeProgress {
        const QElapsedTimer& timer;
        std::size_t totalItems = 0;
        std::size_t pushedItems = 0;
        std::size_t failedBatches = 0;
        qint64 lastReportMs = 0;
        std::mutex mutex;

        void done(std::size_t batchItems, bool succeeded, const std::function<void(const std::string&)>& log);
    };

    // Pushes `items` in "pushFileSystem" batches from `senders` threads; false when a batch was not
    // answered (the rest are not sent). `local`: the items the mount folder held before, the only
    // ones the user can have kept on the device.
    bool pushBatches(const std::vector<const CloudItem*>& items, unsigned senders, const std::set<QString>& local,
                     TreeProgress& progress);
    // The items the mount folder holds now, as paths relative to it, read in one walk: asked one by
    // one through the filter, the items of a fresh tree made its push half as slow again.
    std::set<QString> localItems() const;
    bool request(const std::string& command, const std::string& body, std::string& reply);
    // The item's file-info record; `kept`: the user keeps it on this device (pushed as not virtual).
    std::string record(const CloudItem& item, bool withFileName, bool kept) const;
    QString localPath(const QString& relativePath) const;

    IIpcInterface* channel_;
    ClientOptions options_;
    std::function<void(const std::string&)> log_;
    CloudTree tree_;
    std::map<QString, CloudItem> pushed_;
    std::function<bool(const QString&)> updateContent_;
};
