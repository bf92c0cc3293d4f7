// "runContextMenu": the entry the user picked. Most actions become requests to the main client,
// which owns the account and answers later with its own commands; only freeing space prepares the
// placeholders here first. The slow actions run after the reply, on a thread of their own.
#include <set>

#include "cfapi/cf_api_wrapper.h"
#include "ipc/client_file_info.h"
#include "ipc/service_ipc_manager.h"
#include "platform/shlobj.h"
#include "platform/windows.h"
#include "socket/detached_thread.h"
#include "socket/socket_api.h"
#include "suite/base/x_file_info.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr int kFolderType = 2;

bool runsAfterReply(const std::string& command) {
    return command == "FreeUpSpace" || command == "AlwaysKeepDevice" || command == "OnlyOnline";
}

QStringList expand(const QStringList& paths) {
    QStringList expanded;
    for (const QString& path : paths) SocketApi::directory2Filelist(path, expanded);
    return expanded;
}

}  // namespace

int SocketApi::onIpcRunContextMenu(TcpSocket client, const std::string&, const std::string& arguments) {
    rapidjson::Document parsed;
    QStringList files;
    if (!parseMenuArguments(client, arguments, parsed, files)) return -1;
    auto member = parsed.FindMember("menuCommand");
    if (member == parsed.MemberEnd() || !member->value.IsString()) {
        LOG_WARN << "runContextMenu refused, \"menuCommand\" is not a string";
        return replyFailure(client, "301", "context menu request needs \"menuCommand\", a string");
    }
    const std::string menuCommand(member->value.GetString(), member->value.GetStringLength());
    LOG_INFO << "begin onIpcRunContextMenu menuCommand =" << menuCommand << ", file count =" << files.size();
    auto& manager = CServiceIpcManager::instance();
    rapidjson::Document document(rapidjson::kObjectType);
    if (menuCommand == "AddToZiduZudu") {
        manager.requestAddToZiduZudu(files);
        return replySuccess(client, document);
    }
    if (runsAfterReply(menuCommand)) {
        const int sent = replySuccess(client, document);
        startDetachedThread([menuCommand, files] { runContextMenuAsync(menuCommand, files); });
        return sent;
    }
    std::vector<ClientFileInfo> records;
    manager.requestFilesInfo(expand(files), &records);
    if (menuCommand == "HistoryFile") {
        QStringList sids;
        for (const auto& record : records) {
            if (!record.sid.isEmpty()) sids.append(record.sid);
        }
        if (!sids.isEmpty()) {
            manager.requestHistoryFile(sids);
        } else {
            LOG_INFO << "skip HistoryFile because no valid sync identity, selected count =" << files.size()
                     << ", queried count =" << static_cast<int>(records.size());
        }
    }
    return replySuccess(client, document);
}

void SocketApi::runContextMenuAsync(const std::string& menuCommand, const QStringList& paths) {
    LOG_INFO << "async run context menu begin menuCommand =" << menuCommand << ", file count =" << paths.size();
    const QStringList expanded = expand(paths);
    auto& manager = CServiceIpcManager::instance();
    if (menuCommand == "AlwaysKeepDevice") {
        manager.requestKeepDevice(expanded);
    } else {
        std::vector<ClientFileInfo> records;
        manager.requestFilesInfo(expanded, &records);
        // OnlyOnline looks the items up and leaves them as they are.
        if (menuCommand == "FreeUpSpace") {
            QStringList released;
            std::set<QString> folders;
            for (const auto& record : records) {
                if (!canReleaseItem(record)) continue;
                released.append(record.filePath + "\\" + record.fileName);
                folders.insert(record.filePath);
            }
            if (!released.isEmpty()) manager.requestReleaseSpace(released);
            // One refresh per folder, however many of its files were freed.
            for (const QString& folder : folders) {
                const std::wstring path = folder.toStdWString();
                SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, path.c_str(), nullptr);
            }
        }
    }
    LOG_INFO << "async run context menu end menuCommand =" << menuCommand << ", file count =" << paths.size();
}

bool SocketApi::canReleaseItem(const ClientFileInfo& record) {
    const QString path = record.filePath + "\\" + record.fileName;
    if (record.sid.isEmpty()) {
        LOG_WARN << "[ziduzudu-release-space] skip item without cloud sid, path =" << path;
        return false;
    }
    if (record.type == kFolderType) return true;
    if (!CfApiWrapper::findPlaceholderInfo(path)) return false;
    // Its content is already off the device.
    if (CfApiWrapper::availabilityState(path, true) == 4) return true;
    if (!CfApiWrapper::setPinState(path, PinState::OnlineOnly, PinRecursionRecurse)) return false;
    return CfApiWrapper::dehydratePlaceholder(path, CXFileInfo(path).size(), record.id.toUtf8()) == 0;
}
