// "getContextMenu": which of Nimbrel's entries the Explorer extension shows, active or greyed, for
// the selected items. The sync disk offers three entries once the whole suite is ready; the
// mounted space offers two and only looks at items under its mount paths.
#include <rapidjson/document.h>

#include <iostream>

#include "cfapi/cf_api_wrapper.h"
#include "host/sync_virtual_config.h"
#include "ipc/logged_text.h"
#include "ipc/service_ipc_manager.h"
#include "ipc/untrusted_json.h"
#include "platform/windows.h"
#include "socket/socket_api.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

const char kParseFailedSummary[] = "CClientIpcManager::onIpcLogonAccount return failed";
const char kMainClientExecutable[] = "Orvane.exe";

struct MenuEntry {
    const char* command;
    const wchar_t* title;
    const char* icon;
    const char* iconGray;
};

const MenuEntry kSyncDiskEntries[] = {
    {"AlwaysKeepDevice", L"同步至本地", "menu_icon_1.png", "menu_icon_3.png"},
    {"FreeUpSpace", L"释放空间（本地为快捷方式）", "menu_icon_2.png", "menu_icon_4.png"},
    {"HistoryFile", L"查看历史版本", "menu_icon_5.png", "menu_icon_6.png"},
};
const MenuEntry kMountEntries[] = {
    {"AlwaysKeepDevice", L"保持离线可用", "menu_icon_1.png", "menu_icon_3.png"},
    {"FreeUpSpace", L"不占用电脑空间", "menu_icon_2.png", "menu_icon_4.png"},
};

// The extensions whose files the cloud keeps earlier versions of.
const QStringList kHistoryExtensions = {".doc", ".docx", ".xls", ".xlsx", ".ppt", ".pptx",
                                        ".txt", ".md",   ".rtf", ".pdf",  ".csv"};

struct Counts {
    int onlineOnly = 0;
    int local = 0;
};

void count(const QString& path, Counts& counts) {
    const int state = CfApiWrapper::availabilityState(path, true);
    if (state == 3 || state == 4) {
        ++counts.onlineOnly;
    } else if (state == 0 || state == 1) {
        ++counts.local;
    }
}

bool countsForHistory(const QString& path) {
    const DWORD attributes = GetFileAttributesW(CfApiWrapper::toLongPath(path).toStdWString().c_str());
    const DWORD skipped = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & skipped) || path.contains("~$")) return false;
    const QString name = path.mid(std::max(path.lastIndexOf('\\'), path.lastIndexOf('/')) + 1);
    const int dot = name.lastIndexOf('.');
    return dot >= 0 && kHistoryExtensions.contains(name.mid(dot).toLower());
}

rapidjson::Value text(const QString& value, rapidjson::Document::AllocatorType& allocator) {
    const QByteArray utf8 = value.toUtf8();
    return rapidjson::Value(utf8.constData(), static_cast<rapidjson::SizeType>(utf8.size()), allocator);
}

template <std::size_t N>
void addMenu(rapidjson::Document& document, const std::vector<std::wstring>& mountPaths, const QString& title,
             const MenuEntry (&entries)[N], const std::vector<const char*>& flags) {
    auto& allocator = document.GetAllocator();
    rapidjson::Value var(rapidjson::kObjectType);
    rapidjson::Value roots(rapidjson::kArrayType);
    for (const auto& path : mountPaths) {
        roots.PushBack(text(QString::fromStdWString(path), allocator), allocator);
    }
    var.AddMember("registerPath", roots, allocator);
    var.AddMember("contextMenuTitle", text(title, allocator), allocator);
    var.AddMember("contextMenuIcon", "menu_icon_0.png", allocator);
    rapidjson::Value items(rapidjson::kArrayType);
    for (std::size_t i = 0; i < N; ++i) {
        rapidjson::Value item(rapidjson::kObjectType);
        item.AddMember("menuCommand", rapidjson::StringRef(entries[i].command), allocator);
        item.AddMember("title", text(QString::fromWCharArray(entries[i].title), allocator), allocator);
        item.AddMember("bShow", rapidjson::StringRef(flags[i]), allocator);
        item.AddMember("icon", rapidjson::StringRef(entries[i].icon), allocator);
        item.AddMember("icongray", rapidjson::StringRef(entries[i].iconGray), allocator);
        items.PushBack(item, allocator);
    }
    var.AddMember("menuItems", items, allocator);
    document.AddMember("var", var, allocator);
}

const char* flag(bool active) { return active ? "1" : "0"; }

}  // namespace

int SocketApi::onIpcGetContextMenu(TcpSocket client, const std::string&, const std::string& arguments) {
    LOG_INFO << "begin onIpcGetContextMenu";
    rapidjson::Document parsed;
    QStringList files;
    if (!parseMenuArguments(client, arguments, parsed, files)) return -1;
    return syncConfig()->isMountMode() ? mountMenu(client, files) : syncDiskMenu(client, files);
}

int SocketApi::syncDiskMenu(TcpSocket& client, const QStringList& files) {
    const bool mainClientRunning = isProcessRunning(kMainClientExecutable);
    const SyncRuntimeSnapshot state = CServiceIpcManager::instance().getSyncRuntimeState();
    if (!mainClientRunning || !state.serviceOnline || !state.loggedIn || !state.contextMenuAllowed ||
        state.mountedPaths.empty()) {
        LOG_WARN << "don't show menu, runtime state not ready"
                 << ", mainClientRunning =" << mainClientRunning << ", serviceOnline =" << state.serviceOnline
                 << ", loggedIn =" << state.loggedIn << ", contextMenuAllowed =" << state.contextMenuAllowed
                 << ", status =" << state.status << ", reason =" << state.reason
                 << ", mountPathCount =" << static_cast<int>(state.mountedPaths.size());
        return replyFailure(client, "301", "sync context menu runtime state not ready");
    }
    Counts counts;
    int historyCount = 0;
    for (const QString& path : files) {
        count(path, counts);
        if (countsForHistory(path)) ++historyCount;
    }
    const int total = files.size();
    const bool keep = counts.local != total;
    const bool free = counts.onlineOnly != total;
    const bool history = total == 1 && historyCount == 1;
    LOG_INFO << "context menu state summary file count =" << total << ", onlineOnlyCount =" << counts.onlineOnly
             << ", localCount =" << counts.local << ", historyCount =" << historyCount << ", freeFlag =" << flag(free)
             << ", keepFlag =" << flag(keep);
    rapidjson::Document document(rapidjson::kObjectType);
    addMenu(document, state.mountedPaths, "Veltrano", kSyncDiskEntries, {flag(keep), flag(free), flag(history)});
    return replySuccess(client, document);
}

int SocketApi::mountMenu(TcpSocket& client, const QStringList& files) {
    QStringList working;
    const auto mountPaths = CServiceIpcManager::instance().mountedPathsCopy();
    for (const QString& path : files) {
        for (const auto& mountPath : mountPaths) {
            if (path.startsWith(QString::fromStdWString(mountPath))) directory2Filelist(path, working);
        }
    }
    Counts counts;
    for (const QString& path : working) count(path, counts);
    const int total = working.size();
    const bool keep = counts.local != total;
    const bool free = counts.onlineOnly != total;
    LOG_INFO << "mount context menu state summary file count =" << total << ", onlineOnlyCount =" << counts.onlineOnly
             << ", localCount =" << counts.local << ", freeFlag =" << flag(free) << ", keepFlag =" << flag(keep);
    rapidjson::Document document(rapidjson::kObjectType);
    addMenu(document, CServiceIpcManager::instance().mountedPathsCopy(), QString::fromWCharArray(L"Calimbra挂载盘"),
            kMountEntries, {flag(keep), flag(free)});
    return replySuccess(client, document);
}

bool SocketApi::parseMenuArguments(TcpSocket& client, const std::string& arguments, rapidjson::Document& parsed,
                                   QStringList& files) {
    const rapidjson::ParseResult result = parseUntrustedJson(parsed, arguments.c_str(), arguments.size());
    if (result.IsError()) {
        const std::string logged = loggedText(arguments);
        std::cout << " rapidjson::Document::Parse() return failure,"
                  << "body = " << logged << ", error = " << static_cast<int>(result.Code()) << std::endl;
        LOG_WARN << " rapidjson::Document::Parse() return failure,"
                 << "body = " << logged << ", error = " << static_cast<int>(result.Code());
        replyFailure(client, "301", kParseFailedSummary);
        return false;
    }
    // The extension always sends its selection; anything else is refused rather than guessed at.
    // Member lookups are asked of an object only: on an array or a number they abort the process.
    const rapidjson::Value* list = nullptr;
    if (parsed.IsObject()) {
        auto found = parsed.FindMember("files");
        if (found != parsed.MemberEnd() && found->value.IsArray()) list = &found->value;
    }
    bool valid = list != nullptr;
    if (valid) {
        for (const auto& path : list->GetArray()) {
            if (!path.IsString()) {
                valid = false;
                break;
            }
            files.append(QString::fromUtf8(path.GetString(), static_cast<int>(path.GetStringLength())));
        }
    }
    if (!valid) {
        LOG_WARN << "context menu request refused, \"files\" is not an array of strings, body ="
                 << loggedText(arguments);
        replyFailure(client, "301", "context menu request needs \"files\", an array of strings");
    }
    return valid;
}
