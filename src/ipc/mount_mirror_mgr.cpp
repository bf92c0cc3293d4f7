// The task bookkeeping of the mount manager: one task per path, mounts on the calling thread,
// unmounts on the pool, and what happens when either ends.
#include "ipc/mount_mirror_mgr.h"

#include <QDateTime>
#include <algorithm>

#include "cfapi/cf_api_wrapper.h"
#include "download/thread_pool.h"
#include "host/sync_virtual_config.h"
#include "ipc/hresult_text.h"
#include "ipc/sync_root_unregister_registry.h"
#include "platform/windows.h"
#include "suite/base/winpath.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr int kPoolThreads = 6;
constexpr int kShutdownRounds = 30;
constexpr DWORD kShutdownRoundMs = 1000;

std::wstring nativePath(const std::string& path) {
    return QString::fromUtf8(path.c_str(), static_cast<int>(path.size())).replace('/', '\\').toStdWString();
}

// One spelling per root, as the Cloud Files layer tells roots apart: "DIR", "DIR/" and "DIR\" are
// the same root, so they must meet in the task map and the mounted-path list.
std::string cleanMountPath(const std::string& path) {
    return winpath::cleanPath(QString::fromUtf8(path.c_str(), static_cast<int>(path.size()))).toStdString();
}

}  // namespace

CMountMirrorMgr::CMountMirrorMgr() : pool_(std::make_shared<ThreadPool>(kPoolThreads)) {}

CMountMirrorMgr::~CMountMirrorMgr() {
    LOG_INFO << " Destructor called";
    if (!pool_) return;
    LOG_INFO << " Waiting for thread pool to finish...";
    int round = 0;
    for (; round < kShutdownRounds; ++round) {
        std::size_t count = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            count = tasks_.size();
        }
        if (count == 0) {
            LOG_INFO << " All tasks completed";
            break;
        }
        LOG_INFO << " Waiting for " << static_cast<unsigned long long>(count) << " tasks to complete... (" << round + 1
                 << ")";
        Sleep(kShutdownRoundMs);
    }
    if (round == kShutdownRounds) LOG_WARN << " Timeout waiting for tasks, forcing shutdown";
    pool_.reset();
    LOG_INFO << " Thread pool destroyed";
}

std::vector<std::wstring> CMountMirrorMgr::mountedPathsCopy() const { return mountedPaths_.copy(); }

HRESULT CMountMirrorMgr::registerRoot(const QString& path) {
    CSyncVirtualConfig* config = syncConfig();
    return CfApiWrapper::registerSyncRoot(path, config->serverAppName(true), QStringLiteral("1.0"),
                                          config->shellFolderClsid());
}

void CMountMirrorMgr::waitForPendingUnregister(const std::string& path) {
    auto& registry = SyncRootUnregisterRegistry::instance();
    const std::wstring key = SyncRootUnregisterRegistry::rootKey(QString::fromUtf8(path.c_str()));
    if (!registry.isPending(key)) return;
    LOG_WARN << "wait same sync root unregister before mount, path:" << path;
    const qint64 started = QDateTime::currentMSecsSinceEpoch();
    registry.waitWhilePending(key);
    LOG_INFO << "same sync root unregister finished before mount, path:" << path
             << " wait:" << QDateTime::currentMSecsSinceEpoch() - started;
}

std::string CMountMirrorMgr::mountedSpelling(const std::string& path) const {
    const QString cleaned = QString::fromStdString(cleanMountPath(path));
    for (const auto& mounted : mountedPaths_.copy()) {
        const QString candidate = QString::fromStdWString(mounted);
        if (winpath::equals(candidate, cleaned)) return winpath::fromNativeSeparators(candidate).toStdString();
    }
    return cleaned.toStdString();
}

HRESULT CMountMirrorMgr::mount(const std::string& requestedPath, bool& running) {
    const std::string path = cleanMountPath(requestedPath);
    LOG_INFO << " Mount mirror server enter,path =" << path;
    waitForPendingUnregister(path);

    std::shared_ptr<MountMirrorTask> previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = tasks_.find(path);
        if (found != tasks_.end()) previous = found->second;
    }
    HRESULT hr = S_OK;
    bool needMount = true;
    if (previous) {
        if (previous->isMount()) {
            LOG_INFO << " Same mount task already running, path:" << path;
            needMount = false;
            running = true;
        } else {
            LOG_INFO << " Waiting for unMount to complete before mount, path:" << path;
        }
        previous->waitTask(-1);
        hr = previous->hr();
        LOG_WARN << " Previous unMount failed with hr:" << hresultText(hr) << ", path:" << path;
    }
    if (needMount) {
        waitForPendingUnregister(path);
        auto task = std::make_shared<MountMirrorTask>(path, true);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tasks_[path] = task;
        }
        hr = _mount(task);
        task->setHr(hr);
        onTaskEnd(task);
    }
    LOG_INFO << " Mount mirror server leave ,mountPath:" << path << " hr:" << hresultText(hr)
             << " bNeedMount:" << needMount;
    return hr;
}

int CMountMirrorMgr::asyncUnMount(const std::string& requestedPath, QString& errorText, bool& running) {
    const std::string path = mountedSpelling(requestedPath);
    LOG_INFO << " UnMount mirror server enter mountPath:" << path;
    std::shared_ptr<MountMirrorTask> previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = tasks_.find(path);
        if (found != tasks_.end()) {
            if (!found->second->isMount()) {
                // The task leaves the map before it is marked done, so a listed unmount still runs.
                LOG_INFO << " Same unMount task already running, mountPath:" << path;
                running = true;
                return 0;
            }
            previous = found->second;
        }
    }
    if (previous) {
        LOG_INFO << " Waiting for mount to complete before unMount, mountPath:" << path;
        previous->waitTask(-1);
        LOG_WARN << " Previous mount failed with hr:" << hresultText(previous->hr()) << ", path:" << path;
    }
    auto task = std::make_shared<MountMirrorTask>(path, false);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_[path] = task;
    }
    submitUnMount(task, previous != nullptr);
    if (!previous) LOG_INFO << " New unMount task created, mountPath:" << path;
    errorText = task->errorText();
    LOG_INFO << " UnMount mirror server leave mountPath:" << path << " hr:" << 0;
    return 0;
}

void CMountMirrorMgr::submitUnMount(const std::shared_ptr<MountMirrorTask>& task, bool afterMountWait) {
    pool_->submit([this, task, afterMountWait] { runUnMountJob(task, afterMountWait); });
}

void CMountMirrorMgr::runUnMountJob(const std::shared_ptr<MountMirrorTask>& task, bool afterMountWait) {
    if (afterMountWait) {
        LOG_INFO << " UnMount mirror server enqueque (after mount wait), mountPath:" << task->path();
    } else {
        LOG_INFO << " UnMount mirror server enqueque, mountPath:" << task->path();
    }
    const HRESULT hr = _unMount(task);
    task->setHr(hr);
    LOG_INFO << " UnMount mirror server done, mountPath:" << task->path() << " hr:" << hresultText(hr);
    onTaskEnd(task);
}

void CMountMirrorMgr::onTaskEnd(const std::shared_ptr<MountMirrorTask>& task) {
    const std::string& path = task->path();
    const HRESULT hr = task->hr();
    LOG_INFO << " Task ended, path:" << path << " hr:" << hresultText(hr) << " isMount:" << task->isMount();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = tasks_.find(path);
        if (found == tasks_.end()) {
            LOG_WARN << " Task not found in map (already removed?), path:" << path;
        } else {
            if (found->second == task) {
                LOG_INFO << " Removing task from map, path:" << path;
            } else {
                LOG_WARN << " Task pointer mismatch! Expected:" << static_cast<const void*>(task.get())
                         << " Found:" << static_cast<const void*>(found->second.get());
            }
            tasks_.erase(found);
        }
    }

    const std::wstring native = nativePath(path);
    if (!task->isMount() && hr == S_OK) {
        const std::wstring other = mountedPaths_.withLocked([&](std::vector<std::wstring>& paths) {
            std::wstring found;
            for (const auto& candidate : paths) {
                if (candidate != native) found = candidate;
            }
            paths.erase(std::remove(paths.begin(), paths.end(), native), paths.end());
            return found;
        });
        if (!other.empty()) {
            // A full unmount of the last root removes the shared shell integration; the roots
            // still mounted need theirs back.
            registerRoot(QString::fromStdWString(other));
            LOG_INFO << " Re-registered shell extensions after unmount for: " << other;
        }
    } else if (task->isMount() && hr != S_OK) {
        mountedPaths_.remove(native);
    }

    // Waiters are released only now, after the map and the mounted-path list have been updated,
    // so that a request that waited for this task never races its bookkeeping.
    task->setDone();
    task->wakeTask();
    LOG_INFO << " Task fully cleaned up, path:" << path << " bMount:" << task->isMount() << " hr:" << hresultText(hr);
}
