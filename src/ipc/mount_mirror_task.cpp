#include "ipc/mount_mirror_task.h"

#include <chrono>

#include "ipc/hresult_text.h"
#include "suite/logbridge/spdlog_bridge.h"

MountMirrorTask::MountMirrorTask(std::string path, bool isMount) : path_(std::move(path)), isMount_(isMount) {}

HRESULT MountMirrorTask::hr() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hr_;
}

void MountMirrorTask::setHr(HRESULT hr) {
    std::lock_guard<std::mutex> lock(mutex_);
    hr_ = hr;
}

bool MountMirrorTask::done() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}

void MountMirrorTask::setDone() {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
}

QString MountMirrorTask::errorText() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errorText_;
}

void MountMirrorTask::setErrorText(const QString& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    errorText_ = text;
}

bool MountMirrorTask::waitTask(int timeoutMs) {
    LOG_INFO << "CMountMirrorMgr waitTask, timeout:" << timeoutMs << "ms, path:" << path_;
    std::unique_lock<std::mutex> lock(mutex_);
    if (timeoutMs < 0) {
        ended_.wait(lock, [this] { return done_; });
    } else if (!ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done_; })) {
        LOG_WARN << " TIMEOUT waiting for task completion, path:" << path_;
        return false;
    }
    LOG_INFO << " Task completed successfully, path:" << path_ << " hr:" << hresultText(hr_);
    return true;
}

void MountMirrorTask::wakeTask() {
    LOG_INFO << "CMountMirrorMgr wakeTask";
    std::lock_guard<std::mutex> lock(mutex_);
    ended_.notify_all();
}
