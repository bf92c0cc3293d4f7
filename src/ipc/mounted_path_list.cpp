#include "ipc/mounted_path_list.h"

#include <algorithm>

bool MountedPathList::add(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(paths_.begin(), paths_.end(), path) != paths_.end()) return false;
    paths_.push_back(path);
    return true;
}

void MountedPathList::remove(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_.erase(std::remove(paths_.begin(), paths_.end(), path), paths_.end());
}

std::vector<std::wstring> MountedPathList::copy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return paths_;
}
