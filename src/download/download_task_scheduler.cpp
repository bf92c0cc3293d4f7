#include "download/download_task_scheduler.h"

#include <algorithm>

#include "download/download_task_table.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

void removeFirst(std::list<std::string>& list, const std::string& taskId) {
    auto found = std::find(list.begin(), list.end(), taskId);
    if (found != list.end()) list.erase(found);
}

}  // namespace

CDownloadTaskScheduler& CDownloadTaskScheduler::instance() {
    static CDownloadTaskScheduler* scheduler = new CDownloadTaskScheduler;
    return *scheduler;
}

void CDownloadTaskScheduler::addWaitingTask(const std::string& taskId) {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.push_back(taskId);
}

void CDownloadTaskScheduler::removeWaitingTask(const std::string& taskId) {
    std::lock_guard<std::mutex> lock(mutex_);
    removeFirst(waiting_, taskId);
}

std::string CDownloadTaskScheduler::frontWaitingTask() {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_.empty() ? std::string() : waiting_.front();
}

void CDownloadTaskScheduler::addRunningTask(const std::string& taskId) {
    std::lock_guard<std::mutex> lock(mutex_);
    running_.push_back(taskId);
}

void CDownloadTaskScheduler::removeRunningTask(const std::string& taskId) {
    std::lock_guard<std::mutex> lock(mutex_);
    removeFirst(running_, taskId);
}

void CDownloadTaskScheduler::StopAllTask() {
    LOG_INFO << "enter";
    // Lock order: the scheduler mutex may be held while the table takes its own, never the reverse.
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.clear();
    auto& table = DownloadTaskTable::instance();
    for (const auto& taskId : running_) {
        LOG_INFO << "cancel taskid:" << taskId;
        table.setCancelled(taskId, table.getTask(taskId));
    }
    LOG_INFO << "leave";
}
