#pragma once
// The Cloud Files callback context of every download task, and the tasks marked cancelled.
// Contexts are copied whole: the table never points into the filter's memory. The two maps have
// their own mutexes, never held together.

#include <map>
#include <mutex>
#include <string>

#include "platform/cfapi.h"

class DownloadTaskTable {
public:
    static DownloadTaskTable& instance();

    void setTask(const std::string& taskId, const CF_CALLBACK_INFO& context);
    // A copy of the stored context; an unknown id is stored with an all-zero context first.
    CF_CALLBACK_INFO getTask(const std::string& taskId);
    bool hasTask(const std::string& taskId);
    void removeTask(const std::string& taskId);

    void setCancelled(const std::string& taskId, const CF_CALLBACK_INFO& context);
    bool isCancelled(const std::string& taskId);
    void removeCancelled(const std::string& taskId);

private:
    DownloadTaskTable() = default;

    std::mutex taskMutex_;
    std::map<std::string, CF_CALLBACK_INFO> tasks_;
    std::mutex cancelMutex_;
    std::map<std::string, CF_CALLBACK_INFO> cancelled_;
};
