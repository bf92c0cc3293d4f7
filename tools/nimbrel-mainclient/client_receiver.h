#pragma once
// What the client answers to each request the server sends it.

#include <atomic>
#include <mutex>
#include <string>

#include "client_options.h"
#include "content_server.h"
#include "ipc/reply_envelope.h"
#include "menu_requests.h"
#include "suite/ipcmodule/ipc_interface.h"

class ClientReceiver : public IRequestNotify {
public:
    explicit ClientReceiver(const ClientOptions& options);
    void attach(IIpcInterface* channel) { channel_ = channel; }
    void attachContent(ContentServer* content) { content_ = content; }
    void attachMenu(MenuRequests* menu) { menu_ = menu; }
    MenuRequests* menu() const { return menu_; }

    int OnRequest(const char* ipcName, const std::wstring& text) override;

    // One line on standard output, never interleaved with another thread's line.
    void log(const std::string& line);
    // How many times a server announced itself ("pushOnline"): a new one means it started again.
    int announcements() const { return announcements_; }

private:
    std::wstring answer(const std::string& command, const std::string& body);
    std::wstring checkOnlineReply();

    ClientOptions options_;
    IIpcInterface* channel_ = nullptr;
    ContentServer* content_ = nullptr;
    MenuRequests* menu_ = nullptr;
    ReplyEnvelope envelope_{"nimbrel-mainclient"};
    std::mutex outputMutex_;
    std::atomic<int> announcements_{0};
};
