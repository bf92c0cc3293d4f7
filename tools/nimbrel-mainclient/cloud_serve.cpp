#include "cloud_serve.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "client_receiver.h"
#include "cloud_pusher.h"
#include "host/sync_virtual_config.h"
#include "sync_disk_login.h"

namespace {

constexpr int kSyncDiskMode = 1;
constexpr auto kReadyPoll = std::chrono::milliseconds(100);
// A batch of new placeholders may take the server longer than a plain request.
constexpr const char* kPushTimeoutMs = "300000";

volatile std::sig_atomic_t g_stop = 0;

void requestStop(int) { g_stop = 1; }

}  // namespace

bool prepareSyncFolder(const std::string& path, std::string& error) {
    std::error_code code;
    if (std::filesystem::is_directory(path, code)) return true;
    if (std::filesystem::create_directories(path, code)) {
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, code);
    }
    if (!code && std::filesystem::is_directory(path, code)) return true;
    error = "cannot make the sync folder " + path + (code ? ": " + code.message() : ": not a folder");
    return false;
}

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
    // A server announces itself once, when it starts. One that does so after this client began to mount may
    // have missed the mount (a server started at the same time, or started again since), so it is told again;
    // a mount of a folder already mounted only connects it anew.
    int announcements = receiver.announcements();
    // A file kept on this device follows the cloud's content with "pushUpdateFile".
    if (MenuRequests* menu = receiver.menu()) {
        pusher.setContentUpdater([menu](const QString& path) { return menu->updateHydrated(path); });
    }
    const bool pushed = !g_stop && pusher.mount() && pusher.pushTree();
    if (!pushed) log("the cloud was not pushed");
    while (!g_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options.pollMs));
        // A server that started again knows no mount until its main client tells it again.
        if (receiver.announcements() > announcements && !g_stop) {
            announcements = receiver.announcements();
            log("the server announced itself: mounting again");
            pusher.mount();
        }
        if (pushed && !g_stop) pusher.pushChanges();
    }
    if (login) login->close();
    log("stopped");
    // The channel's threads may still be answering the server: the process ends here, before any
    // static object they use is destroyed.
    std::_Exit(0);
}
