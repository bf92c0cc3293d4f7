// The unmount of one root, on a pool thread: disconnect, search-scope removal, CfUnregisterSyncRoot
// in the background with a bounded wait, registry clean-up. Every step logs its elapsed time.
#include <QDateTime>
#include <chrono>
#include <exception>
#include <thread>

#include "cfapi/cf_api_wrapper.h"
#include "ipc/hresult_text.h"
#include "ipc/mount_mirror_mgr.h"
#include "ipc/sync_root_unregister_registry.h"
#include "ipc/sync_root_unregister_state.h"
#include "platform/cfapi.h"
#include "shell/utilities.h"
#include "suite/base/utility.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr int kUnregisterWaitMs = 3000;
constexpr qint64 kSlowSearchRemovalMs = 10000;
constexpr qint64 kVeryLongUnmountMs = 30000;

class Stopwatch {
public:
    qint64 elapsed() const { return QDateTime::currentMSecsSinceEpoch() - started_; }
    void restart() { started_ = QDateTime::currentMSecsSinceEpoch(); }

private:
    qint64 started_ = QDateTime::currentMSecsSinceEpoch();
};

}  // namespace

void CMountMirrorMgr::unregisterInBackground(std::wstring path, std::shared_ptr<SyncRootUnregisterState> state) {
    LOG_INFO << "CfUnregisterSyncRoot starting in background thread";
    Stopwatch watch;
    const HRESULT hr = CfUnregisterSyncRoot(path.c_str());
    if (hr == S_OK) {
        LOG_INFO << "CfUnregisterSyncRoot succeeded in background, elapsed:" << watch.elapsed();
    } else {
        LOG_WARN << "CfUnregisterSyncRoot failed in background:" << Utility::formatWinError(hr)
                 << " elapsed:" << watch.elapsed();
    }
    state->setResult(hr);
    state->markBackgroundFinished();
}

HRESULT CMountMirrorMgr::_unMount(const std::shared_ptr<MountMirrorTask>& task) {
    Stopwatch total;
    Stopwatch step;
    LOG_INFO << " START - UnMount mirror server";
    const QString path = QString::fromUtf8(task->path().c_str()).replace('/', '\\');
    const std::wstring widePath = path.toStdWString();
    auto& registry = SyncRootUnregisterRegistry::instance();
    const std::wstring key = SyncRootUnregisterRegistry::rootKey(path);
    if (!registry.markPending(key)) {
        LOG_WARN << " CfUnregisterSyncRoot already running, skip duplicate unmount, path:" << path;
        return S_OK;
    }

    // Only this root's connection goes; another root connected since stays up.
    HRESULT hr = CfApiWrapper::disconnectSyncRoot(path);
    if (hr != S_OK) {
        task->setErrorText(QStringLiteral("disconnect sync root failed"));
        LOG_INFO << " disconnectSyncRoot failed after" << step.elapsed() << "ms:" << hresultText(hr);
        registry.clearPending(key);
        return hr;
    }
    LOG_INFO << " Step1 disconnectSyncRoot:" << step.elapsed() << "ms";

    step.restart();
    LOG_INFO << " Starting search index removal";
    try {
        Utilities::RemoveFolderFromeSearchIndex(widePath);
        LOG_INFO << " Search index removal completed:" << step.elapsed() << "ms";
        if (step.elapsed() > kSlowSearchRemovalMs)
            LOG_WARN << " Search index removal took very long:" << step.elapsed();
    } catch (const std::exception& error) {
        LOG_WARN << " Search index removal exception:" << error.what();
    }

    step.restart();
    LOG_INFO << " Starting async CfUnregisterSyncRoot";
    auto state = std::make_shared<SyncRootUnregisterState>(key);
    bool started = false;
    try {
        std::thread(unregisterInBackground, widePath, state).detach();
        started = true;
    } catch (const std::exception& error) {
        LOG_WARN << " start CfUnregisterSyncRoot thread exception:" << error.what();
        task->setErrorText(QStringLiteral("start CfUnregisterSyncRoot thread failed"));
        registry.clearPending(key);
        hr = E_FAIL;
    }
    if (started) {
        auto result = state->result();
        if (result.wait_for(std::chrono::milliseconds(kUnregisterWaitMs)) == std::future_status::ready) {
            hr = result.get();
            LOG_INFO << " Step2 CfUnregisterSyncRoot completed:" << step.elapsed() << "ms";
        } else {
            LOG_WARN << " CfUnregisterSyncRoot still running after" << step.elapsed()
                     << "ms, path protected for same-root mount";
            hr = S_OK;
        }
    }
    if (hr != S_OK && hr != E_FAIL) {
        task->setErrorText(QStringLiteral("CfUnregisterSyncRoot failed"));
        LOG_CRITICAL << " CfUnregisterSyncRoot failed:" << hresultText(hr);
        state->markSyncFinished();
        return hr;
    }

    step.restart();
    CfApiWrapper::removeShellIntegrationKeys(path);
    LOG_INFO << " Step3 deleteRegistry:" << step.elapsed() << "ms";

    step.restart();
    // The shell extensions are shared by every root of the suite: they go only with the last one.
    const bool skipped = mountedPaths_.withLocked([&](std::vector<std::wstring>& paths) {
        for (const auto& other : paths) {
            if (other != widePath) return true;
        }
        CfApiWrapper::unregisterShellExtensions();
        return false;
    });
    LOG_INFO << " Step4 unregisterShellExt:" << step.elapsed() << "ms skippedForActiveRoot:" << skipped;

    state->markSyncFinished();
    LOG_INFO << " UnMount mirror server TOTAL (sync operations):" << total.elapsed();
    if (total.elapsed() > kVeryLongUnmountMs) LOG_WARN << " WARNING: Very long operation:" << total.elapsed();
    return hr;
}
