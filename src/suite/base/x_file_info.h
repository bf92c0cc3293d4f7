#pragma once
// A snapshot of a file or folder taken once at construction, from the Windows attribute data, so
// that "hidden" means the Windows hidden attribute and the times are the file system's own. Only
// whether a reparse point is a symbolic link is looked up when asked: it takes a second query,
// and every cloud placeholder is a reparse point too.

#include <QDateTime>
#include <QString>

class CXFileInfo {
public:
    // `path` in Windows or Qt form.
    explicit CXFileInfo(const QString& path);

    QString path() const { return path_; }
    bool exists() const { return exists_; }
    bool isFile() const { return exists_ && !isDir_; }
    bool isDir() const { return isDir_; }
    bool isSymLink() const;
    bool isHidden() const { return isHidden_; }
    qint64 size() const { return size_; }
    // Invalid date-times when the item does not exist. Made when asked for: a local date-time costs
    // a time-zone lookup, and most snapshots are taken only to see whether the item is there.
    QDateTime created() const { return fromFileTime(created_); }
    QDateTime lastModified() const { return fromFileTime(lastModified_); }
    QDateTime lastRead() const { return fromFileTime(lastRead_); }

private:
    QString path_;
    bool exists_ = false;
    bool isDir_ = false;
    bool isReparsePoint_ = false;
    bool isHidden_ = false;
    qint64 size_ = 0;
    // FILETIME ticks (100 ns since 1601), 0 for none.
    qint64 created_ = 0;
    qint64 lastModified_ = 0;
    qint64 lastRead_ = 0;

    static QDateTime fromFileTime(qint64 ticks);
};
