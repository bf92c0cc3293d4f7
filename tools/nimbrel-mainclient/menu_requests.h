#pragma once
// The reference cloud's half of the context-menu conversation: it answers the server's file-list
// requests from the cloud folder's records, and carries out keep-on-device, free-up-space and
// update-file the way the main client does, by sending "pushKeepOnDevice", "pushFreeUpSpace" and
// "pushUpdateFile" back. That work runs after the answer, on one worker thread, in request order.

#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "client_options.h"
#include "cloud_tree.h"
#include "ipc/reply_envelope.h"
#include "suite/ipcmodule/ipc_interface.h"

class MenuRequests {
public:
    MenuRequests(const ClientOptions& options, std::function<void(const std::string&)> log);
    void attach(IIpcInterface* channel) { channel_ = channel; }

    // True when `command` is one of the file-list requests, with `reply` its answer.
    bool answer(const std::string& command, const std::string& body, std::wstring& reply);
    // A file whose content changed in the cloud: when its copy in the sync root is hydrated, the
    // new content replaces it ("pushUpdateFile") and true is answered.
    bool updateHydrated(const QString& relativePath);

private:
    struct Item {
        QString requested;  // the path as the server wrote it
        QString local;      // the item in the sync root
        CloudItem cloud;
    };

    // The cloud items that the "filelist" of `body` names; paths outside the mount are left out.
    std::vector<Item> itemsOf(const std::string& body) const;
    std::wstring filesInfoReply(const std::vector<Item>& items);
    void keepOnDevice(const std::vector<Item>& items);
    void freeUpSpace(const std::vector<Item>& items);
    // Copies the cloud file next to `local` under a hidden name; the copy's path, or empty.
    QString download(const CloudItem& item, const QString& local) const;
    bool push(const char* command, const std::string& body);
    void enqueue(std::function<void()> job);
    void work();

    ClientOptions options_;
    std::function<void(const std::string&)> log_;
    IIpcInterface* channel_ = nullptr;
    ReplyEnvelope envelope_{"nimbrel-mainclient"};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
};
