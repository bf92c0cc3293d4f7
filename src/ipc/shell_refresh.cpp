#include "ipc/shell_refresh.h"

#include <algorithm>

#include "cfapi/cf_api_wrapper.h"
#include "ipc/shell_path.h"
#include "ipc/shell_refresh_clock.h"
#include "platform/shlobj.h"
#include "suite/base/winpath.h"
#include "suite/base/x_file_info.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr int kMaxAncestorLevels = 64;
constexpr UINT kNotifyFlags = SHCNF_PATHW | SHCNF_FLUSH | SHCNF_FLUSHNOWAIT;
const QString kRootBurstParentSource = QStringLiteral("pushFileAdd.final-local-file-root-burst-parent-solid");
const QString kRemoteCreateSource = QStringLiteral("pushFileStatus.remote-create-visible");

void shellNotify(LONG event, const QString& path) {
    const std::wstring widePath = path.toStdWString();
    SHChangeNotify(event, kNotifyFlags, widePath.c_str(), nullptr);
}

bool isFinalStatus(int status) { return status == 3 || status == 103; }

}  // namespace

CShellRefresh& CShellRefresh::instance() {
    static CShellRefresh* refresh = new CShellRefresh(ShellRefreshClock::steady());
    return *refresh;
}

CShellRefresh::CShellRefresh(ShellRefreshClock& clock)
    : roots_(clock), parents_(clock), debouncer_(clock, [this](const QString& folder, const QString& source) {
          notifyShellItemChanged(folder, source, true);
      }) {}

void CShellRefresh::notifyShellItemChanged(const QString& path, const QString& source, bool includeParent) {
    if (path.isEmpty()) return;
    const QString item = normalizeShellPath(path);
    shellNotify(SHCNE_UPDATEITEM | SHCNE_ATTRIBUTES, item);
    if (includeParent) {
        const QString folder = CXFileInfo(item).isDir() ? item : shellParentPath(item);
        if (!folder.isEmpty()) {
            shellNotify(SHCNE_UPDATEDIR, folder);
            shellNotify(SHCNE_UPDATEITEM | SHCNE_ATTRIBUTES, folder);
        }
    }
    LOG_INFO << "[ziduzudu-shell-refresh] notify shell item changed"
             << " source:" << (source.isEmpty() ? QStringLiteral("unknown") : source) << " path:" << item
             << " relatedDir:" << includeParent;
}

int CShellRefresh::debounceFolderRefresh(const QString& folder, const QString& source) {
    return debouncer_.debounceFolderRefresh(folder, source);
}

ParentBurst CShellRefresh::parentBurst(const QString& path) { return parents_.parentBurst(path); }

RootBurst CShellRefresh::rootBurst(const QString& path, const std::vector<std::wstring>& mountPaths,
                                   const QString& root) {
    return roots_.rootBurst(path, mountPaths, root);
}

void CShellRefresh::scheduleAncestorRefresh(const QString& path, const std::vector<std::wstring>& mountPaths,
                                            const QString& root, const QString& source) {
    const QString item = normalizeShellPath(path);
    const QString walkRoot = resolveRoot(item, mountPaths, root);
    QString folder = winpath::sameIgnoringCase(item, walkRoot) ? walkRoot : shellParentPath(item);
    int scheduled = 0;
    int coalesced = 0;
    int largestCount = 0;
    for (int level = 0; level < kMaxAncestorLevels; ++level) {
        if (folder.isEmpty() || !isWithin(folder, walkRoot)) break;
        const int updateCount = debounceFolderRefresh(folder, source);
        ++scheduled;
        largestCount = std::max(largestCount, updateCount);
        if (updateCount > 1) {
            ++coalesced;
            if (passesLogThinning(updateCount - 1)) {
                LOG_INFO << "[ziduzudu-shell-refresh-coalesce] debounce ancestor shell refresh"
                         << " source:" << source << " path:" << folder << " root:" << walkRoot
                         << " updateCount:" << updateCount << " delayMs:" << ShellFolderDebouncer::kDelayMs;
            }
        }
        if (!walkRoot.isEmpty() && winpath::sameIgnoringCase(folder, walkRoot)) break;
        const QString parent = shellParentPath(folder);
        if (parent == folder) break;
        folder = parent;
    }
    const bool thinned = (source == kRootBurstParentSource || source == kRemoteCreateSource) && coalesced > 0;
    if (!thinned || passesLogThinning(largestCount - 1)) {
        LOG_INFO << "[ziduzudu-shell-refresh-ancestors] schedule ancestor dirs changed"
                 << " source:" << source << " path:" << item << " root:" << walkRoot << " scheduled:" << scheduled
                 << " coalesced:" << coalesced << " delayMs:" << ShellFolderDebouncer::kDelayMs;
    }
}

void CShellRefresh::notifyFinalLocalFile(const QString& path, const std::vector<std::wstring>& mountPaths,
                                         const QString& root, const QString& source, const QString& parentSource) {
    const RootBurst rootState = rootBurst(path, mountPaths, root);
    if (rootState.inBurst) {
        scheduleAncestorRefresh(path, mountPaths, root, kRootBurstParentSource);
        if (passesLogThinning(rootState.suppressedCount)) {
            LOG_INFO << "[ziduzudu-shell-refresh-coalesce] coalesce final local file shell refresh by root"
                     << " path:" << path << " burstCount:" << rootState.burstCount
                     << " suppressedCount:" << rootState.suppressedCount;
        }
        return;
    }
    const ParentBurst parentState = parentBurst(path);
    if (!parentState.coalesced) {
        notifyShellItemChanged(path, source, false);
        scheduleAncestorRefresh(path, mountPaths, root, parentSource);
        return;
    }
    if (parentState.notifyParent) {
        notifyShellItemChanged(parentState.parent, QStringLiteral("pushFileAdd.final-local-file-batch-solid"), false);
        scheduleAncestorRefresh(parentState.parent, mountPaths, root,
                                QStringLiteral("pushFileAdd.final-local-file-batch-parent-solid"));
    }
    if (passesLogThinning(parentState.suppressedCount)) {
        LOG_INFO << "[ziduzudu-shell-refresh-coalesce] coalesce final local file shell refresh"
                 << " path:" << path << " parent:" << parentState.parent << " burstCount:" << parentState.burstCount
                 << " suppressedCount:" << parentState.suppressedCount << " notifyParent:" << parentState.notifyParent;
    }
}

void CShellRefresh::notifyRemoteCreateVisible(const QString& path, bool isDir,
                                              const std::vector<std::wstring>& mountPaths, const QString& root) {
    const QString item = normalizeShellPath(path);
    if (item.isEmpty()) return;
    const RootBurst rootState = rootBurst(item, mountPaths, root);
    if (!rootState.inBurst) {
        shellNotify(isDir ? SHCNE_MKDIR : SHCNE_CREATE, item);
        const QString parent = shellParentPath(item);
        if (!parent.isEmpty()) shellNotify(SHCNE_UPDATEDIR, parent);
    }
    scheduleAncestorRefresh(item, mountPaths, root, kRemoteCreateSource);
    if (!rootState.inBurst || passesLogThinning(rootState.suppressedCount)) {
        LOG_INFO << "[ziduzudu-remote-create-visible] notify shell for remote placeholder create"
                 << " path:" << item << " isDir:" << isDir << " coalesced:" << rootState.inBurst
                 << " rootBurstCount:" << rootState.burstCount << " rootSuppressedCount:" << rootState.suppressedCount;
    }
}

void CShellRefresh::notifyFinalLocalDir(const QString& path, const std::vector<std::wstring>& mountPaths,
                                        const QString& root, const QString& id, int status, int ret, bool updateLsid,
                                        const QString& source, const QString& parentSource, bool pinKnown, bool pinOk) {
    if (ret != 0 || !isFinalStatus(status) || !CXFileInfo(path).isDir()) return;
    const bool pinned = pinKnown ? pinOk : CfApiWrapper::setPinState(path, PinState::AlwaysLocal, PinRecursionNone);
    const bool inSyncOk = CfApiWrapper::updateSyncState(path, CF_IN_SYNC_STATE_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE);
    notifyShellItemChanged(path, source, true);
    scheduleAncestorRefresh(path, mountPaths, root, parentSource);
    LOG_INFO << "[ziduzudu-final-local-dir-solid] notify local dir solid pushFileAdd"
             << " source:" << source << " path:" << path << " id:" << id << " status:" << status << " ret:" << ret
             << " pinOk:" << pinned << " inSyncOk:" << inSyncOk << " updateLsid:" << updateLsid;
}
