#include "cloud_serve.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <thread>

#include "client_receiver.h"
#include "cloud_pusher.h"
#include "host/sync_virtual_config.h"
#include "sync_disk_login.h"
#include "sync_folder.h"

namespace {

constexpr int kSyncDiskMode = 1;
constexpr auto kReadyPoll = std::chrono::milliseconds(100);
// A batch of new placeholders may take the server longer than a plain request.
constexpr const char* kPushTimeoutMs = "300000";

volatile std::sig_atomic_t g_stop = 0;

void requestStop(int) { g_stop = 1; }

}  // namespace

void runCloudServe(IIpcInterface* channel, const ClientOptions& options, CSyncVirtualConfig& config,
                   ClientReceiver& receiver) {
    setenv("NIMBREL_IPC_TIMEOUT_MS", kPushTimeoutMs, 0);
    std::signal(SIGTERM, requestStop);
    std::signal(SIGINT, requestStop);
    auto log = [&receiver](const std::string& line) { receiver.log(line); };
    while (!channel->isReady() && !g_stop) std::this_thread::sleep_for(kReadyPoll);

    std::unique_ptr<SyncDiskLogin> login;
    if (options.mode == kSyncDiskMode) {
        login = std::make_unique<SyncDiskLogin>(config, QString::fromStdString(options.mountPath));
        if (!login->open()) log("could not record the sync-disk login");
    }
    CloudPusher pusher(channel, options, log);
    // A file kept on this device follows the cloud's content with "pushUpdateFile".
    if (MenuRequests* menu = receiver.menu()) {
        pusher.setContentUpdater([menu](const QString& path) { return menu->updateHydrated(path); });
    }
    // A server announces itself once, when it starts, possibly while it takes this client's first mount.
    int announcements = receiver.announcements();
    const bool pushed = !g_stop && pusher.mount() && pusher.pushTree();
    if (!pushed) log("the cloud was not pushed");
    while (!g_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options.pollMs));
        // A server that started again knows no mount until its main client tells it again; a folder
        // the user unmounted meanwhile stays unmounted. (The first server may announce itself only
        // after this client's mount, so an announcement alone does not tell a restart.)
        if (receiver.announcements() > announcements && !g_stop) {
            announcements = receiver.announcements();
            if (folderAwaitsItsServer(options.mountPath)) {
                log("the server started again");
                pusher.mount();
            }
        }
        if (pushed && !g_stop) pusher.pushChanges();
    }
    if (login) login->close();
    log("stopped");
    // The channel's threads may still be answering the server: the process ends here, before any
    // static object they use is destroyed.
    std::_Exit(0);
}
