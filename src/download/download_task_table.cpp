#include "download/download_task_table.h"

DownloadTaskTable& DownloadTaskTable::instance() {
    static DownloadTaskTable* table = new DownloadTaskTable;
    return *table;
}

void DownloadTaskTable::setTask(const std::string& taskId, const CF_CALLBACK_INFO& context) {
    std::lock_guard<std::mutex> lock(taskMutex_);
    tasks_[taskId] = context;
}

CF_CALLBACK_INFO DownloadTaskTable::getTask(const std::string& taskId) {
    std::lock_guard<std::mutex> lock(taskMutex_);
    return tasks_.try_emplace(taskId, CF_CALLBACK_INFO{}).first->second;
}

bool DownloadTaskTable::hasTask(const std::string& taskId) {
    std::lock_guard<std::mutex> lock(taskMutex_);
    return tasks_.count(taskId) != 0;
}

void DownloadTaskTable::removeTask(const std::string& taskId) {
    std::lock_guard<std::mutex> lock(taskMutex_);
    tasks_.erase(taskId);
}

void DownloadTaskTable::setCancelled(const std::string& taskId, const CF_CALLBACK_INFO& context) {
    std::lock_guard<std::mutex> lock(cancelMutex_);
    cancelled_[taskId] = context;
}

bool DownloadTaskTable::isCancelled(const std::string& taskId) {
    std::lock_guard<std::mutex> lock(cancelMutex_);
    return cancelled_.count(taskId) != 0;
}

void DownloadTaskTable::removeCancelled(const std::string& taskId) {
    std::lock_guard<std::mutex> lock(cancelMutex_);
    cancelled_.erase(taskId);
}
