#include "download/hydration_turn.h"

#include <thread>

#include "download/download_task_scheduler.h"
#include "download/hydration_slots.h"

bool runInHydrationSlot(const std::string& taskId, const std::function<bool()>& keepAlive,
                        const std::function<void()>& download, std::chrono::milliseconds pause) {
    auto& scheduler = CDownloadTaskScheduler::instance();
    if (!hydrationSlots.tryAcquire()) {
        scheduler.addWaitingTask(taskId);
        for (;;) {
            if (!keepAlive()) {
                scheduler.removeWaitingTask(taskId);
                return false;
            }
            std::this_thread::sleep_for(pause);
            if (scheduler.frontWaitingTask() == taskId && hydrationSlots.tryAcquire()) break;
        }
    }
    scheduler.removeWaitingTask(taskId);
    scheduler.addRunningTask(taskId);
    download();
    scheduler.removeRunningTask(taskId);
    hydrationSlots.release();
    return true;
}
