#pragma once
// The folders a batch of projections found pinned, on the thread that runs the batch. Every item of
// a batch pins its ancestors again, and the items of one batch share the same few: a folder found
// pinned is taken as still pinned until the batch ends or a pin change of a folder on this thread
// may have changed it (a recursive change reaches the folders below).

#include <QSet>
#include <QString>

class PinnedFolderMemo {
public:
    // Starts remembering on this thread until the memo goes; a memo inside another adds nothing.
    PinnedFolderMemo();
    ~PinnedFolderMemo();
    PinnedFolderMemo(const PinnedFolderMemo&) = delete;
    PinnedFolderMemo& operator=(const PinnedFolderMemo&) = delete;

    // Whether the batch running on this thread found `folder` pinned.
    static bool known(const QString& folder);
    static void remember(const QString& folder);
    // Every folder of the batch is looked at again.
    static void forgetAll();

private:
    QSet<QString> folders_;
    bool active_ = false;
};
