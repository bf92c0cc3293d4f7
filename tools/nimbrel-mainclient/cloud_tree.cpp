#include "cloud_tree.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

qint64 seconds(const QDateTime& time) { return time.isValid() ? time.toSecsSinceEpoch() : 0; }

}  // namespace

CloudTree::CloudTree(QString root) : root_(std::move(root)) {}

QString CloudTree::idFor(const QString& relativePath) {
    // Short enough to be read back from a placeholder (65 characters at most).
    return QString::fromLatin1(
        QCryptographicHash::hash(relativePath.toUtf8(), QCryptographicHash::Sha1).toHex().left(24));
}

std::vector<CloudItem> CloudTree::scan() const {
    std::vector<CloudItem> items;
    scanFolder(QString(), items);
    return items;
}

std::map<QString, CloudItem> CloudTree::snapshot() const {
    std::map<QString, CloudItem> items;
    for (CloudItem& item : scan()) items.emplace(item.relativePath, std::move(item));
    return items;
}

void CloudTree::scanFolder(const QString& relativeFolder, std::vector<CloudItem>& items) const {
    const QDir folder(relativeFolder.isEmpty() ? root_ : root_ + "/" + relativeFolder);
    const QFileInfoList entries =
        folder.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink()) continue;
        CloudItem item;
        item.relativePath = relativeFolder.isEmpty() ? entry.fileName() : relativeFolder + "/" + entry.fileName();
        item.isFolder = entry.isDir();
        item.size = item.isFolder ? 0 : entry.size();
        item.modified = seconds(entry.lastModified());
        const qint64 born = seconds(entry.birthTime());
        item.created = born != 0 ? born : item.modified;
        item.accessed = seconds(entry.lastRead());
        items.push_back(item);
        if (item.isFolder) scanFolder(item.relativePath, items);
    }
}
