#include "serve_command.h"

#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

#include "client_receiver.h"
#include "cloud_serve.h"
#include "desktop_app.h"
#include "host/sync_virtual_config.h"
#include "ipc_module_loader.h"
#include "sync_folder.h"

namespace {

constexpr int kSyncDiskMode = 1;

}  // namespace

int runServe(const ClientOptions& options, CSyncVirtualConfig& config) {
    std::string error;
    if (!options.mountPath.empty() && !prepareSyncFolder(options.mountPath, error)) {
        std::cerr << "nimbrel-mainclient: " << error << std::endl;
        return 1;
    }
    // Before the channel's threads exist, so that the child starts from a quiet process.
    if (options.mode == kSyncDiskMode && options.desktopApp && !startDesktopApp()) {
        std::cerr << "nimbrel-mainclient: cannot start the desktop application" << std::endl;
        return 1;
    }
    static ClientReceiver receiver(options);
    IIpcInterface* channel = createIpcChannel(&receiver, error);
    if (!channel) {
        std::cerr << "nimbrel-mainclient: " << error << std::endl;
        return 1;
    }
    receiver.attach(channel);
    static MenuRequests menu(options, [](const std::string& line) { receiver.log(line); });
    menu.attach(channel);
    receiver.attachMenu(&menu);
    std::unique_ptr<ContentServer> content;
    if (!options.cloudDir.empty()) {
        content = std::make_unique<ContentServer>(options.cloudDir, options.mountPath, options.misbehaviour);
        if (!content->start()) {
            std::cerr << "nimbrel-mainclient: cannot start the content server" << std::endl;
            return 1;
        }
        receiver.attachContent(content.get());
        receiver.log("content server on http://127.0.0.1:" + std::to_string(content->port()) + "/files/");
    }
    // The client's side of the channel: it receives on the server's sending channel.
    const std::string receive = config.servicePluginChannel().toStdString();
    const std::string send = config.pluginServiceChannel().toStdString();
    channel->start(receive.c_str(), send.c_str());
    receiver.log("serving mode " + std::to_string(options.mode) + " on " + receive);
    if (!options.mountPath.empty()) runCloudServe(channel, options, config, receiver);
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
