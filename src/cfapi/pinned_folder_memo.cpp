#include "cfapi/pinned_folder_memo.h"

namespace {

thread_local PinnedFolderMemo* activeMemo = nullptr;

}  // namespace

PinnedFolderMemo::PinnedFolderMemo() {
    if (activeMemo) return;
    activeMemo = this;
    active_ = true;
}

PinnedFolderMemo::~PinnedFolderMemo() {
    if (active_) activeMemo = nullptr;
}

bool PinnedFolderMemo::known(const QString& folder) { return activeMemo && activeMemo->folders_.contains(folder); }

void PinnedFolderMemo::remember(const QString& folder) {
    if (activeMemo) activeMemo->folders_.insert(folder);
}

void PinnedFolderMemo::forgetAll() {
    if (activeMemo) activeMemo->folders_.clear();
}
