#pragma once
// The Explorer notifications the projection asks for once an item's state has changed: the
// coalescing shell-refresh operations, seen through the arguments the projection hands them.
// `mountPaths` is a copy of the mount manager's list, `root` the connected sync root.

#include <QString>
#include <string>
#include <vector>

class ProjectionShellRefresh {
public:
    virtual ~ProjectionShellRefresh() = default;

    virtual void notifyShellItemChanged(const QString& path, const QString& source, bool includeParent) = 0;
    virtual void scheduleAncestorRefresh(const QString& path, const std::vector<std::wstring>& mountPaths,
                                         const QString& root, const QString& source) = 0;
    virtual void notifyFinalLocalFile(const QString& path, const std::vector<std::wstring>& mountPaths,
                                      const QString& root, const QString& source, const QString& parentSource) = 0;
    virtual void notifyFinalLocalDir(const QString& path, const std::vector<std::wstring>& mountPaths,
                                     const QString& root, const QString& id, int status, int ret, bool updateLsid,
                                     const QString& source, const QString& parentSource, bool pinKnown, bool pinOk) = 0;
    virtual void notifyRemoteCreateVisible(const QString& path, bool isDir, const std::vector<std::wstring>& mountPaths,
                                           const QString& root) = 0;
};
