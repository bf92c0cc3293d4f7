#pragma once
// The reference cloud: a local folder read as the user's cloud tree. Every folder and file is an
// item with a stable id (derived from its path in the cloud), its size and its times.

#include <QString>
#include <QtGlobal>
#include <map>
#include <vector>

struct CloudItem {
    QString relativePath;  // "/" separated, no leading separator
    bool isFolder = false;
    qint64 size = 0;
    // Seconds since 1970-01-01 UTC.
    qint64 created = 0;
    qint64 modified = 0;
    qint64 accessed = 0;

    bool sameContent(const CloudItem& other) const {
        return isFolder == other.isFolder && size == other.size && modified == other.modified;
    }
};

class CloudTree {
public:
    explicit CloudTree(QString root);

    // Every item below the root, each folder before what it holds.
    std::vector<CloudItem> scan() const;
    // The same items by relative path.
    std::map<QString, CloudItem> snapshot() const;

    // The same path always gets the same id, in this run and the next.
    static QString idFor(const QString& relativePath);

private:
    void scanFolder(const QString& relativeFolder, std::vector<CloudItem>& items) const;

    QString root_;
};
