#pragma once
// Which downloads wait for a hydration slot and which run, by task id (the placeholder identity
// of the file). Every operation holds the scheduler mutex for its whole duration.

#include <list>
#include <mutex>
#include <string>

class CDownloadTaskScheduler {
public:
    static CDownloadTaskScheduler& instance();

    void addWaitingTask(const std::string& taskId);
    // Removes the first occurrence only: the same id may wait more than once.
    void removeWaitingTask(const std::string& taskId);
    // The id at the head of the waiting list, or an empty string.
    std::string frontWaitingTask();
    void addRunningTask(const std::string& taskId);
    void removeRunningTask(const std::string& taskId);

    // Drops every waiter and marks every running download cancelled in the task table; running
    // downloads notice the mark, stop and remove themselves.
    void StopAllTask();

private:
    CDownloadTaskScheduler() = default;

    std::mutex mutex_;
    std::list<std::string> waiting_;
    std::list<std::string> running_;
};
